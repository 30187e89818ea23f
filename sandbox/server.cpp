#include "server.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <utility>

#include "catalogue.hpp"
#include "documents.hpp"
#include "embedded_images.hpp"
#include "page.hpp"

namespace lumivane::sandbox {
namespace {

using nlohmann::json;

constexpr std::string_view service_key = "5A3D19E0-7C42-4B8E-9F16-2D0B7E4C8A51";
constexpr const char* xml_utf8 = "text/xml; charset=UTF-8";
constexpr const char* xml_latin1 = "text/xml; charset=ISO-8859-1";
constexpr const char* json_utf8 = "application/json; charset=utf-8";
constexpr const char* plain_utf8 = "text/plain; charset=utf-8";

struct Account {
  std::string_view email;
  std::string_view password;
};
constexpr std::array<Account, 2> accounts = {{
    {"demo@lumivane.test", "demo"},
    {"marie.dupont@menuiserie-exemple.fr", "Ch@ssis&Volets 2026#"},
}};

bool account_matches(const std::string& email, const std::string& password) {
  for (const auto& account : accounts) {
    if (account.email == email && account.password == password) return true;
  }
  return false;
}

bool is_one_of(std::string_view kind, std::initializer_list<std::string_view> kinds) {
  for (auto candidate : kinds) {
    if (kind == candidate) return true;
  }
  return false;
}

bool same_name(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

std::string trimmed(std::string_view text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(" \t");
  return std::string(text.substr(first, last - first + 1));
}

// The request as the control endpoint reports it: raw path and query, the
// headers as received, the body and the cookies.
json describe(const httplib::Request& request) {
  const auto question = request.target.find('?');
  json headers = json::object();
  json cookies = json::object();
  for (const auto& [name, value] : request.headers) {
    // httplib files the connection's addresses among the headers.
    if (is_one_of(name, {"REMOTE_ADDR", "REMOTE_PORT", "LOCAL_ADDR", "LOCAL_PORT"})) continue;
    headers[name] =
        headers.contains(name) ? headers[name].get<std::string>() + ", " + value : value;
    if (!same_name(name, "Cookie")) continue;
    size_t start = 0;
    while (start <= value.size()) {
      const auto end = std::min(value.find(';', start), value.size());
      const auto pair = std::string_view(value).substr(start, end - start);
      const auto equals = pair.find('=');
      if (equals != std::string_view::npos) {
        cookies[trimmed(pair.substr(0, equals))] = trimmed(pair.substr(equals + 1));
      }
      start = end + 1;
    }
  }
  return {{"method", request.method},
          {"path", request.target.substr(0, question)},
          {"query", question == std::string::npos ? "" : request.target.substr(question + 1)},
          {"headers", std::move(headers)},
          {"body", request.body},
          {"cookies", std::move(cookies)}};
}

// Closes the request's connection without a word: finds its socket among the
// open descriptors by the two ports and shuts it down, so that the answer
// httplib writes afterwards goes nowhere.
void drop_connection(const httplib::Request& request) {
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", error)) {
    int fd = -1;
    try {
      fd = std::stoi(entry.path().filename().string());
    } catch (const std::exception&) {
      continue;
    }
    sockaddr_in local{};
    sockaddr_in peer{};
    socklen_t size = sizeof local;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&local), &size) != 0 ||
        local.sin_family != AF_INET || ntohs(local.sin_port) != request.local_port)
      continue;
    size = sizeof peer;
    if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &size) != 0 ||
        ntohs(peer.sin_port) != request.remote_port)
      continue;
    ::shutdown(fd, SHUT_RDWR);
    return;
  }
}

void set_content_type(httplib::Response& response, const std::string& type) {
  response.headers.erase("Content-Type");
  response.set_header("Content-Type", type);
}

// The parts of a fault that do not depend on the endpoint.
void apply(const Fault& fault, httplib::Response& response) {
  if (fault.kind == "empty") response.body.clear();
  if (fault.kind == "null") response.body = "null";
  if (fault.status) response.status = *fault.status;
  if (fault.body) response.body = *fault.body;
  if (fault.content_type) set_content_type(response, *fault.content_type);
}

void json_error(httplib::Response& response, int status, const std::string& message) {
  response.status = status;
  response.set_content(json{{"erreur", message}}.dump(), json_utf8);
}

std::string fault_kind(const Fault* fault) { return fault ? fault->kind : std::string(); }

}  // namespace

Sandbox::Sandbox(bool quiet) : quiet_(quiet) {
  // Idle connections must not hold up a stop for long.
  server_.set_keep_alive_timeout(1);
  // httplib's default also sets SO_REUSEPORT, which would let a second
  // sandbox share a fixed port instead of failing.
  server_.set_socket_options([](socket_t socket) {
    int yes = 1;
    setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  });
  add_routes();
}

std::string Sandbox::bind(int port) {
  if (port == 0) {
    port = server_.bind_to_any_port("127.0.0.1");
    if (port < 0) throw std::runtime_error("aucun port libre sur 127.0.0.1");
  } else if (!server_.bind_to_port("127.0.0.1", port)) {
    throw std::runtime_error("le port " + std::to_string(port) + " de 127.0.0.1 est indisponible");
  }
  state_ = std::make_unique<State>("http://127.0.0.1:" + std::to_string(port));
  return state_->base();
}

void Sandbox::set_fault(FaultSetting setting) { state_->set_fault(std::move(setting)); }

bool Sandbox::listen() { return server_.listen_after_bind(); }

void Sandbox::stop() {
  // The server first, so that woken handlers do not wait for another request
  // on their connection.
  server_.stop();
  {
    std::lock_guard lock(stop_mutex_);
    stopping_ = true;
  }
  stop_signal_.notify_all();
}

bool Sandbox::wait(int milliseconds) {
  std::unique_lock lock(stop_mutex_);
  return !stop_signal_.wait_for(lock, std::chrono::milliseconds(milliseconds),
                                [this] { return stopping_; });
}

void Sandbox::log(const httplib::Request& request, const std::string& outcome) {
  if (quiet_) return;
  // The gateway's query holds the password: never logged.
  const bool secret = request.path == "/index.php/Services/jeton";
  const auto line =
      request.method + " " + (secret ? request.path : request.target) + " -> " + outcome + "\n";
  std::lock_guard lock(log_mutex_);
  std::fputs(line.c_str(), stderr);
}

httplib::Server::Handler Sandbox::endpoint(Endpoint which, EndpointHandler handler) {
  return [this, which, handler = std::move(handler)](const httplib::Request& request,
                                                     httplib::Response& response) {
    state_->record(describe(request));
    const auto fault = state_->take_fault(which);
    if (fault && fault->delay_ms > 0 && !wait(fault->delay_ms)) {
      response.status = 503;
      log(request, "503 (arrêt)");
      return;
    }
    if (fault && fault->kind == "drop") {
      drop_connection(request);
      log(request, "connexion coupée");
      return;
    }
    try {
      handler(request, response, fault ? &*fault : nullptr);
    } catch (const std::exception& error) {
      response.status = 500;
      response.set_content(std::string("Erreur du bac à sable : ") + error.what(), plain_utf8);
    }
    if (response.status == -1) response.status = 200;
    if (fault) apply(*fault, response);
    log(request, std::to_string(response.status) + (fault ? " (panne)" : ""));
  };
}

httplib::Server::Handler Sandbox::control(ControlHandler handler) {
  return [this, handler = std::move(handler)](const httplib::Request& request,
                                              httplib::Response& response) {
    try {
      handler(request, response);
      if (response.status == -1) response.status = 200;
    } catch (const std::exception& error) {
      response.status = 400;
      response.set_content(error.what(), plain_utf8);
    }
    log(request, std::to_string(response.status));
  };
}

void Sandbox::add_routes() {
  const auto bound = [this](auto member) {
    return [this, member](const httplib::Request& request, httplib::Response& response,
                          const Fault* fault) { (this->*member)(request, response, fault); };
  };
  server_.Get("/index.php/Services/jeton", endpoint(Endpoint::gateway, bound(&Sandbox::gateway)));
  server_.Get("/configurateur",
              endpoint(Endpoint::configurator, bound(&Sandbox::configurator_page)));
  server_.Post("/configurateur/devis",
               endpoint(Endpoint::configurator, bound(&Sandbox::configurator_save)));
  server_.Get("/catalogue",
              endpoint(Endpoint::configurator, bound(&Sandbox::configurator_catalogue)));
  server_.Get("/recuperation", endpoint(Endpoint::retrieval, bound(&Sandbox::retrieval)));
  server_.Post("/test/B2B/WSQuotes.svc/GetDataQuote",
               endpoint(Endpoint::quote, bound(&Sandbox::quote)));
  server_.Get("/images/(.+)", endpoint(Endpoint::picture, bound(&Sandbox::picture)));

  server_.Post("/_control/fault", control([this](const auto& request, auto& response) {
                 const auto body = json::parse(request.body, nullptr, false);
                 state_->set_fault(parse_fault(body));
                 response.set_content(R"({"ok":true})", json_utf8);
               }));
  server_.Post("/_control/quote", control([this](const auto& request, auto& response) {
                 state_->set_quote_override(with_base(request.body, state_->base()));
                 response.set_content(R"({"ok":true})", json_utf8);
               }));
  server_.Delete("/_control/quote", control([this](const auto&, auto& response) {
                   state_->set_quote_override(std::nullopt);
                   response.set_content(R"({"ok":true})", json_utf8);
                 }));
  server_.Post("/_control/retrieval", control([this](const auto& request, auto& response) {
                 state_->set_retrieval_override(with_base(request.body, state_->base()));
                 response.set_content(R"({"ok":true})", json_utf8);
               }));
  server_.Delete("/_control/retrieval", control([this](const auto&, auto& response) {
                   state_->set_retrieval_override(std::nullopt);
                   response.set_content(R"({"ok":true})", json_utf8);
                 }));
  server_.Get("/_control/requests", control([this](const auto&, auto& response) {
                // Bodies that are not UTF-8 (an 8-bit request) must not break the list.
                response.set_content(
                    state_->requests().dump(-1, ' ', false, json::error_handler_t::replace),
                    json_utf8);
              }));
  server_.Post("/_control/reset", control([this](const auto&, auto& response) {
                 state_->reset();
                 response.set_content(R"({"ok":true})", json_utf8);
               }));

  // Anything else is recorded too, so that a test sees a request gone astray.
  const auto unknown = [this](const httplib::Request& request, httplib::Response& response) {
    state_->record(describe(request));
    const bool quote_path = request.path == "/test/B2B/WSQuotes.svc/GetDataQuote";
    response.status = quote_path ? 405 : 404;
    response.set_content(quote_path ? "Méthode non autorisée" : "Introuvable", plain_utf8);
    log(request, std::to_string(response.status));
  };
  server_.Get(".*", unknown);
  server_.Post(".*", unknown);
  server_.Put(".*", unknown);
  server_.Patch(".*", unknown);
  server_.Delete(".*", unknown);
}

void Sandbox::gateway(const httplib::Request& request, httplib::Response& response,
                      const Fault* fault) {
  const auto kind = fault_kind(fault);
  const bool shaped = is_one_of(kind, {"missing", "attributes", "odd", "malformed"});
  response.set_header("Set-Cookie", "PHPSESSID=" + state_->random_hex(26) + "; path=/; HttpOnly");
  if (!shaped &&
      !account_matches(request.get_param_value("email"), request.get_param_value("mdp"))) {
    response.set_content(gateway_refusal(), xml_utf8);
    return;
  }
  response.set_content(gateway_answer(state_->random_hex(32), state_->base(), shaped ? kind : ""),
                       xml_utf8);
}

void Sandbox::configurator_page(const httplib::Request&, httplib::Response& response,
                                const Fault* fault) {
  const std::string page(configurator_page_html());
  response.set_content(fault_kind(fault) == "malformed" ? truncated(page) : page,
                       "text/html; charset=utf-8");
}

void Sandbox::configurator_catalogue(const httplib::Request&, httplib::Response& response,
                                     const Fault* fault) {
  json products = json::array();
  for (const auto& product : catalogue()) {
    products.push_back({{"code", product.code},
                        {"designation", product.designation},
                        {"description", product.description},
                        {"prix", product.unit_price},
                        {"image", state_->base() + "/images/" + product.picture}});
  }
  const auto text = products.dump();
  response.set_content(fault_kind(fault) == "malformed" ? text.substr(0, text.size() / 2) : text,
                       json_utf8);
}

void Sandbox::configurator_save(const httplib::Request& request, httplib::Response& response,
                                const Fault* fault) {
  const auto token = request.get_param_value("jeton");
  if (token.empty()) return json_error(response, 400, "Jeton de session manquant");
  const auto order = json::parse(request.body, nullptr, false);
  if (!order.is_object() || !order.contains("lignes") || !order["lignes"].is_array()) {
    return json_error(response, 400, "Demande illisible : liste « lignes » attendue");
  }
  std::vector<QuoteLine> lines;
  for (const auto& line : order["lignes"]) {
    if (!line.is_object() || !line.contains("produit") || !line["produit"].is_string() ||
        !line.contains("quantite") || !line["quantite"].is_number_integer()) {
      return json_error(response, 400, "Ligne illisible : « produit » et « quantite » attendus");
    }
    const auto code = line["produit"].get<std::string>();
    const auto* product = find_product(code);
    if (!product) return json_error(response, 400, "Produit inconnu : " + code);
    const auto quantity = line["quantite"].get<long long>();
    if (quantity < 1 || quantity > 999) {
      return json_error(response, 400, "Quantité invalide pour " + code);
    }
    lines.push_back(line_for(*product, static_cast<int>(quantity), state_->base()));
  }
  if (lines.empty()) return json_error(response, 400, "Le devis est vide");
  const auto quote = state_->save_quote(token, std::move(lines));
  const auto text = json{{"devis", quote.id}, {"numero", quote.number}}.dump();
  response.set_content(fault_kind(fault) == "malformed" ? text.substr(0, text.size() / 2) : text,
                       json_utf8);
}

void Sandbox::retrieval(const httplib::Request& request, httplib::Response& response,
                        const Fault* fault) {
  const auto kind = fault_kind(fault);
  const bool shaped = is_one_of(kind, {"missing", "attributes", "odd", "malformed"});
  if (const auto document = state_->retrieval_override(); document && !shaped) {
    const bool latin1 = document->find("ISO-8859-1") != std::string::npos ||
                        document->find("iso-8859-1") != std::string::npos;
    response.set_content(*document, latin1 ? xml_latin1 : xml_utf8);
    return;
  }
  const auto id = state_->quote_for_retrieval(request.get_param_value("jeton"));
  // The odd id still finds its quote when the module sends it back intact.
  if (kind == "odd") state_->add_alias(odd_value(id), id);
  response.set_content(retrieval_document(id, shaped ? kind : ""), xml_latin1);
}

void Sandbox::quote(const httplib::Request& request, httplib::Response& response,
                    const Fault* fault) {
  const auto refuse = [&response](int status, const char* text) {
    response.status = status;
    response.set_content(text, plain_utf8);
  };
  const auto body = json::parse(request.body, nullptr, false);
  if (body.is_discarded() || !body.is_object()) {
    return refuse(400, "Requête invalide : objet JSON attendu");
  }
  if (!body.contains("QUOTE_ID") || !body["QUOTE_ID"].is_string()) {
    return refuse(400, "Requête invalide : QUOTE_ID manquant");
  }
  if (!body.contains("key") || !body["key"].is_string()) {
    return refuse(400, "Requête invalide : key manquante");
  }
  if (body["key"].get<std::string>() != service_key) return refuse(403, "Clé refusée");

  const auto kind = fault_kind(fault);
  const bool xml_kind =
      is_one_of(kind, {"no-header", "no-lines", "attributes", "odd", "malformed-xml"});
  const bool json_kind = is_one_of(kind, {"missing", "not-object", "not-string", "malformed"});
  const auto id = body["QUOTE_ID"].get<std::string>();
  std::optional<std::string> xml;
  if (auto replacement = state_->quote_override(); replacement && !xml_kind) {
    xml = std::move(replacement);
  } else {
    auto found = state_->find_quote(id);
    // A shaped answer is wanted even for an id that names no quote.
    if (!found && (xml_kind || json_kind))
      found = Quote{id, quote_number(0), sample_lines(state_->base())};
    if (found) xml = quote_xml(*found, xml_kind ? kind : "");
  }
  response.set_content(xml ? quote_answer(*xml, json_kind ? kind : "") : "null", json_utf8);
}

void Sandbox::picture(const httplib::Request& request, httplib::Response& response,
                      const Fault* fault) {
  const auto kind = fault_kind(fault);
  const std::string name = kind == "png" ? "exemple.png" : request.matches[1].str();
  const auto bytes = embedded_image(name);
  if (!bytes) {
    response.status = 404;
    response.set_content("Image introuvable", plain_utf8);
    return;
  }
  const bool png = name.ends_with(".png");
  const auto served = kind == "malformed" ? bytes->substr(0, bytes->size() / 2) : *bytes;
  response.set_content(std::string(served), png ? "image/png" : "image/jpeg");
}

}  // namespace lumivane::sandbox
