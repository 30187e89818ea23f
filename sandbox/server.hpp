// The HTTP side of the sandbox: every remote party of the module on one
// server bound to 127.0.0.1.
#pragma once

#include <httplib.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "faults.hpp"
#include "state.hpp"

namespace lumivane::sandbox {

class Sandbox {
 public:
  explicit Sandbox(bool quiet);
  Sandbox(const Sandbox&) = delete;
  Sandbox& operator=(const Sandbox&) = delete;

  // Binds 127.0.0.1:port (0: any free port) and answers the base URL.
  // Throws std::runtime_error when the port cannot be bound.
  std::string bind(int port);
  void set_fault(FaultSetting setting);
  // Serves until stop(); false when the server could not run.
  bool listen();
  // Safe from any thread; wakes delayed answers so that they end at once.
  void stop();

 private:
  using EndpointHandler =
      std::function<void(const httplib::Request&, httplib::Response&, const Fault*)>;
  using ControlHandler = std::function<void(const httplib::Request&, httplib::Response&)>;

  void add_routes();
  httplib::Server::Handler endpoint(Endpoint which, EndpointHandler handler);
  httplib::Server::Handler control(ControlHandler handler);

  void gateway(const httplib::Request& request, httplib::Response& response, const Fault* fault);
  void configurator_page(const httplib::Request& request, httplib::Response& response,
                         const Fault* fault);
  void configurator_catalogue(const httplib::Request& request, httplib::Response& response,
                              const Fault* fault);
  void configurator_save(const httplib::Request& request, httplib::Response& response,
                         const Fault* fault);
  void retrieval(const httplib::Request& request, httplib::Response& response, const Fault* fault);
  void quote(const httplib::Request& request, httplib::Response& response, const Fault* fault);
  void picture(const httplib::Request& request, httplib::Response& response, const Fault* fault);

  // False when stop() came first.
  bool wait(int milliseconds);
  void log(const httplib::Request& request, const std::string& outcome);

  const bool quiet_;
  httplib::Server server_;
  std::unique_ptr<State> state_;
  std::mutex stop_mutex_;
  std::condition_variable stop_signal_;
  bool stopping_ = false;
  std::mutex log_mutex_;
};

}  // namespace lumivane::sandbox
