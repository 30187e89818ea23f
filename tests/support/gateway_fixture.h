#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>

#include "http_test_server.h"
#include "recorders.h"
#include "temp_dir.h"
#include "window/fiche_logique.h"

namespace lumivane::testing {

// What the window meets, for the window's tests: on 127.0.0.1 a gateway that
// hands out the token T1 and its two addresses, the retrieval document of
// quote Q7 and a quote service that answers "null"; the configuration file
// for that gateway and an earlier exchange file, as the host passes them; and
// recorders in place of the message box, the browser and the clock.
class GatewayFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    server_.server().Get("/index.php/Services/jeton",
                         [this](const httplib::Request&, httplib::Response& response) {
                           std::lock_guard lock(mutex_);
                           ++gateway_requests_;
                           response.set_content(GatewayAnswer(), "text/xml");
                           if (gateway_fails_) response.status = 500;
                         });
    server_.server().Get("/recuperation", [](const httplib::Request&, httplib::Response& response) {
      response.set_content("<Configurateur><Project>Q7</Project></Configurateur>", "text/xml");
    });
    server_.server().Post("/test/B2B/WSQuotes.svc/GetDataQuote",
                          [](const httplib::Request&, httplib::Response& response) {
                            response.set_content("null", "application/json");
                          });
    server_.Start();
    SetConnexion(server_.Url("/configurateur?jeton=T1"));

    config_ = (dir_.Path() / "config.ini").string();
    exchange_ = dir_.Write("echange.xml", "<avant/>\r\n").string();
    WriteConfig("1", "lumivane");
  }

  void WriteConfig(const std::string& version, const std::string& configurateur) {
    dir_.Write("config.ini", "[General]\r\nVersion=" + version +
                                 "\r\nConfigurateur=" + configurateur +
                                 "\r\n[Utilisateur]\r\nIdentifiant=marie@exemple.fr\r\n"
                                 "MotDePasse=secret\r\n");
  }

  // The ports of a window that talks to these services only.
  window::Ports MakePorts() {
    window::Ports ports;
    ports.messages = &messages_;
    ports.browser = &browser_;
    ports.clock = &clock_;
    ports.endpoints = {server_.BaseUrl(), server_.BaseUrl()};
    ports.pictures_folders = {(dir_.Path() / "images").string() + "/"};
    return ports;
  }

  // The configurator's address in the gateway's later answers.
  void SetConnexion(const std::string& url) {
    std::lock_guard lock(mutex_);
    connexion_ = url;
  }

  int GatewayRequests() {
    std::lock_guard lock(mutex_);
    return gateway_requests_;
  }

  TempDir dir_;
  HttpTestServer server_;
  std::string config_;
  std::string exchange_;
  // The gateway answers 500, or refuses the user with its error document.
  std::atomic<bool> gateway_fails_{false};
  std::atomic<bool> gateway_refuses_{false};
  RecorderMessages messages_;
  RecorderBrowser browser_;
  FixedClock clock_;

 private:
  std::string GatewayAnswer() const {
    if (gateway_refuses_) return "<Erreur>Mot de passe incorrect</Erreur>";
    return "<Configurateur><Jeton>T1</Jeton><UrlConnexion>" + connexion_ +
           "</UrlConnexion><UrlRecuperation>" + server_.Url("/recuperation") +
           "</UrlRecuperation></Configurateur>";
  }

  std::mutex mutex_;
  int gateway_requests_ = 0;
  std::string connexion_;
};

}  // namespace lumivane::testing
