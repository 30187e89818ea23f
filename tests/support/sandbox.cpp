#include "sandbox.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <httplib.h>

#include <regex>
#include <stdexcept>

namespace lumivane::testing {

Sandbox::Sandbox() {
  server_ = Process::Start({LUMIVANE_SANDBOX_EXE, "--port", "0", "--quiet"});
  static const std::regex kBase(R"(^http://([0-9.]+):([0-9]+)$)");
  auto line = server_.WaitForStdoutLine(
      [](const std::string& text) { return std::regex_match(text, kBase); }, kWait);
  std::smatch parts;
  if (!line || !std::regex_match(*line, parts, kBase)) {
    throw std::runtime_error("lumivane-sandbox gave no base URL; it wrote: " + server_.Stdout() +
                             server_.Stderr());
  }
  base_url_ = *line;
  host_ = parts[1];
  port_ = std::stoi(parts[2]);
}

Sandbox::~Sandbox() { server_.Stop(SIGTERM, 3s); }

void Sandbox::Post(const std::string& path, const std::string& body,
                   const std::string& type) const {
  httplib::Client client(host_, port_);
  auto answer = client.Post(path, body, type);
  if (!answer) {
    throw std::runtime_error("sandbox " + path + ": " + httplib::to_string(answer.error()));
  }
  if (answer->status / 100 != 2) {
    throw std::runtime_error("sandbox " + path + ": status " + std::to_string(answer->status) +
                             " " + answer->body);
  }
}

void Sandbox::SetFault(const std::string& endpoint, nlohmann::json fields) {
  fields["endpoint"] = endpoint;
  Post("/_control/fault", fields.dump(), "application/json");
}

void Sandbox::ClearFault(const std::string& endpoint) {
  Post("/_control/fault", nlohmann::json{{"endpoint", endpoint}}.dump(), "application/json");
}

void Sandbox::SetQuote(const std::string& xml) { Post("/_control/quote", xml, "application/xml"); }

void Sandbox::SetRetrieval(const std::string& xml) {
  Post("/_control/retrieval", xml, "application/xml");
}

void Sandbox::Reset() { Post("/_control/reset", "", "application/json"); }

std::string Sandbox::Get(const std::string& path) const {
  httplib::Client client(host_, port_);
  auto answer = client.Get(path);
  if (!answer || answer->status != 200) {
    throw std::runtime_error("sandbox GET " + path + " failed");
  }
  return answer->body;
}

nlohmann::json Sandbox::Requests() const {
  return nlohmann::json::parse(Get("/_control/requests"));
}

nlohmann::json Sandbox::RequestsTo(const std::string& path) const {
  nlohmann::json found = nlohmann::json::array();
  for (const auto& request : Requests()) {
    if (request.value("path", "") == path) found.push_back(request);
  }
  return found;
}

std::string ClosedLocalUrl() {
  // Bind a port, then let it go: nothing listens there afterwards.
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw std::runtime_error("socket failed");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    ::close(fd);
    throw std::runtime_error("cannot pick a local port");
  }
  ::close(fd);
  return "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port));
}

}  // namespace lumivane::testing
