#include "http/failure.h"

#include "base/limits.h"
#include "http/url.h"
#include "platform/system_error.h"
#include "text/compare.h"
#include "text/display.h"
#include "text/user_texts.h"

namespace lumivane::http {
namespace {

// The proxy as "host:port", never with a user name and password.
std::string ProxyName(std::string_view proxy) {
  if (const std::size_t at = proxy.rfind('@'); at != std::string_view::npos) {
    proxy.remove_prefix(at + 1);
  }
  return proxy.empty() ? std::string("du réseau") : text::ValueForMessage(proxy);
}

// A web page where a picture was expected: "<!DOCTYPE html" or "<html",
// after an optional byte-order mark and blanks, in any letter case. Nothing
// else is judged: pictures come in formats the module need not know.
bool IsWebPage(std::string_view head) {
  if (head.starts_with("\xEF\xBB\xBF")) head.remove_prefix(3);
  while (!head.empty() && (head.front() == ' ' || head.front() == '\t' || head.front() == '\r' ||
                           head.front() == '\n' || head.front() == '\f')) {
    head.remove_prefix(1);
  }
  return text::StartsWithIgnoringCase(head, "<!doctype html") ||
         text::StartsWithIgnoringCase(head, "<html");
}

std::string Text(const FailureDetail& failure, const HttpSettings& settings,
                 const std::string& shown) {
  using text::UserMessage;
  using text::UserText;
  switch (failure.kind) {
    case Failure::kSchemeRefused:
      return UserMessage(UserText::kSchemeRefused, {shown});
    case Failure::kRedirectSchemeRefused:
      return UserMessage(UserText::kRedirectSchemeRefused, {shown, ShownUrl(failure.target)});
    case Failure::kRedirectDowngrade:
      return UserMessage(UserText::kRedirectDowngrade, {shown, ShownUrl(failure.target)});
    case Failure::kTooManyRedirects:
      return UserMessage(UserText::kTooManyRedirects,
                         {std::to_string(settings.max_redirects), shown});
    case Failure::kMalformedUrl:
      return UserMessage(UserText::kMalformedUrl, {shown});
    case Failure::kHostNotFound:
      return UserMessage(UserText::kHostNotFound, {shown});
    case Failure::kProxyNotFound:
      return UserMessage(UserText::kProxyNotFound, {shown});
    case Failure::kProxyAuthentication:
      return UserMessage(UserText::kProxyAuthentication, {ProxyName(failure.target), shown});
    case Failure::kProxyRefused:
      return UserMessage(UserText::kProxyRefused,
                         {ProxyName(failure.target), std::to_string(failure.code), shown});
    case Failure::kProxyUnreachable:
      return UserMessage(UserText::kProxyUnreachable, {ProxyName(failure.target), shown});
    case Failure::kLocalResource:
      return UserMessage(UserText::kLocalResource,
                         {platform::SystemErrorText(static_cast<int>(failure.code)), shown});
    case Failure::kUnreachable:
      return UserMessage(UserText::kUnreachable, {shown});
    case Failure::kConnectTimeout:
      return UserMessage(UserText::kConnectTimeout,
                         {std::to_string(settings.connect_timeout_seconds), shown});
    case Failure::kStalled:
      return UserMessage(UserText::kStalled,
                         {std::to_string(settings.stall_timeout_seconds), shown});
    case Failure::kCertificateRefused:
      return UserMessage(UserText::kCertificateRefused, {shown});
    case Failure::kSecureChannel:
      return UserMessage(UserText::kSecureChannel, {shown});
    case Failure::kInterrupted:
      return UserMessage(UserText::kInterrupted, {shown});
    case Failure::kNotHttp:
      return UserMessage(UserText::kNotHttp, {shown});
    case Failure::kHeadersTooLarge:
      return UserMessage(UserText::kHeadersTooLarge, {shown});
    case Failure::kBodyTooLarge:
      return UserMessage(UserText::kBodyTooLarge, {std::to_string(settings.max_body_bytes), shown});
    case Failure::kRequestBodyTooLarge:
      return UserMessage(UserText::kRequestBodyTooLarge, {shown});
    case Failure::kOutOfMemory:
      return UserMessage(UserText::kOutOfMemory, {shown});
    case Failure::kClientSetup:
      return UserMessage(UserText::kClientSetup, {});
    case Failure::kNone:
    case Failure::kStatus:
    case Failure::kOther:
      break;
  }
  return UserMessage(UserText::kOtherFailure,
                     {platform::kHttpClientName, std::to_string(failure.code), shown});
}

}  // namespace

std::string FailureText(const FailureDetail& failure, const HttpSettings& settings,
                        const std::string& url) {
  return Text(failure, settings, ShownUrl(url));
}

std::string StatusText(long status, std::string_view reason, const std::string& url,
                       const std::string& proxy) {
  if (status == 407) return FailureText({Failure::kProxyAuthentication, 0, proxy}, {}, url);
  const std::string said = text::ServerWords(reason);
  return text::UserMessage(
      text::UserText::kStatus,
      {std::to_string(status) + (said.empty() ? "" : " " + said), ShownUrl(url)});
}

HttpError StatusError(long status, std::string_view reason, const std::string& url,
                      const std::string& proxy) {
  return HttpError(StatusText(status, reason, url, proxy), status);
}

std::string PictureAnswerText(long status, std::string_view reason, std::string_view head,
                              std::size_t size, const std::string& url) {
  if (status != 200) return StatusText(status, reason, url);
  if (size == 0) return text::UserMessage(text::UserText::kPictureEmpty, {ShownUrl(url)});
  if (IsWebPage(head)) return text::UserMessage(text::UserText::kPictureIsWebPage, {ShownUrl(url)});
  return {};
}

bool ExceedsBodyLimit(const HttpSettings& settings, std::size_t received, std::size_t more) {
  const std::size_t limit = settings.max_body_bytes;
  return limit != 0 && (received > limit || more > limit - received);
}

HttpError MakeError(const FailureDetail& failure, const HttpSettings& settings,
                    const std::string& url) {
  return HttpError(FailureText(failure, settings, url), 0, failure.kind);
}

HttpError ClientSetupError() {
  return HttpError(Text({Failure::kClientSetup}, HttpSettings{}, {}), 0, Failure::kClientSetup);
}

std::string FileWriteText(const std::string& path, int system_code) {
  return text::CannotWriteFile(path, platform::SystemErrorText(system_code));
}

bool IsTransient(Failure kind, long status) {
  switch (kind) {
    case Failure::kNone:
    case Failure::kStatus:
      return status == 502 || status == 503 || status == 504;
    case Failure::kInterrupted:
    case Failure::kConnectTimeout:
    case Failure::kStalled:
      return true;
    default:
      return false;
  }
}

bool ShouldRetry(int attempts, Failure kind, long status) {
  return attempts < base::kMaxAttempts && IsTransient(kind, status);
}

}  // namespace lumivane::http
