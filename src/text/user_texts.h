#pragma once

// The user's texts: every message a box can show, each under its name, in
// one table (user_texts.cpp). A text holds placeholders {1}, {2}... where its
// values go (a path, an address, a number, a reason); UserMessage puts them
// in. The values come as the caller shows them (text::ValueForMessage,
// http::ShownUrl, text::ServerWords): the table only places them.

#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>

namespace lumivane::text {

enum class UserText {
  // Start-up and configuration.
  kWrongArguments,
  kConfigurationMissing,     // {1} the path
  kConfigurationUnreadable,  // {1} the path
  kWrongVersion,             // {1} the configurator, {2} the module's version, {3} the file's
  kEnvironmentAddress,       // {1} the variable, {2} why the address is refused
  kBuiltInAddress,           // {1} the variable, {2} why the address is refused

  // The gateway and the browser.
  kGatewayErrors,  // {1} the configurator; the gateway's problems follow, a line each
  kGatewayNoConfigurateur,
  kGatewaySaid,  // {1} the gateway's own words
  kGatewayNoConnectionUrl,
  kGatewayNoRetrievalUrl,
  kGatewayAnswerUnreadable,    // {1} why
  kConfigurationValueTooLong,  // {1} the request's size, {2} the most admitted
  kBrowserAddressRefused,
  kBrowserNotStarted,  // {1} the address to open by hand

  // A request that failed: the last value is the address (http::ShownUrl).
  kSchemeRefused,
  kRedirectSchemeRefused,  // {1} from, {2} to
  kRedirectDowngrade,      // {1} from, {2} to
  kTooManyRedirects,       // {1} how many are followed
  kMalformedUrl,
  kHostNotFound,
  kProxyNotFound,
  kProxyAuthentication,  // {1} the proxy
  kProxyRefused,         // {1} the proxy, {2} its status
  kProxyUnreachable,     // {1} the proxy
  kLocalResource,        // {1} the system's reason
  kUnreachable,
  kConnectTimeout,  // {1} seconds
  kStalled,         // {1} seconds
  kCertificateRefused,
  kSecureChannel,
  kInterrupted,
  kNotHttp,
  kHeadersTooLarge,
  kBodyTooLarge,  // {1} the most bytes admitted
  kRequestBodyTooLarge,
  kOutOfMemory,
  kOtherFailure,  // {1} the HTTP library, {2} its code
  kStatus,        // {1} the status and its reason phrase
  kPictureEmpty,
  kPictureIsWebPage,
  kClientSetup,
  kNetworkLibraryInit,
  kNetworkLibrarySetting,
  kCommandLineUnreadable,  // {1} the system's reason
  kUtf8ToUtf16,
  kUtf16ToUtf8,

  // The retrieval.
  kNoRetrievalAddress,
  kRetrievalDocumentUnreadable,  // {1} why
  kQuoteUnreadable,              // {1} why
  kRetrievalDocumentUnusable,    // {1} why
  kQuoteServiceStatus,           // {1} the status
  kQuoteNull,
  kQuoteIncomplete,
  kNoConfigurateurElement,
  kPictureFailed,
  kMorePicturesFailed,  // {1} how many more
  kPicturesTooLarge,    // {1} the most megabytes admitted

  // Files: {1} the path, {2} the system's reason.
  kCannotCreatePicturesFolder,
  kNorFolder,  // {1} the message so far, {2} one more folder, {3} its reason
  kModuleFolderUnknown,
  kCannotWriteFile,
  kCannotReadFile,
  kCannotWriteInFolder,

  // Anything else.
  kUnexpectedError,

  // Windows: the system refused what the window needs.
  kWindowNotCreated,
  kWindowFontMissing,
  kWindowPictureNotPrepared,  // {1} the step that failed

  kCount  // not a text: how many there are
};

inline constexpr std::size_t kUserTextCount = static_cast<std::size_t>(UserText::kCount);

// The text as the table writes it, its placeholders unfilled.
std::string_view UserTextTemplate(UserText text);

// The message: the text with {n} replaced by the n-th value, in one pass
// (a value holding "{2}" stays as it is).
std::string UserMessage(UserText text, std::initializer_list<std::string_view> values = {});

}  // namespace lumivane::text
