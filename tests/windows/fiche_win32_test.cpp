// The Win32 window on a real desktop (Wine under Xvfb, or Windows).
#include "fenetre_win32.h"

#include <gtest/gtest.h>
#include <objbase.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>

#include "support/recorders.h"
#include "platform/windows/wide.h"
#include "window/disposition.h"

namespace lumivane::app::win32 {
namespace {

namespace disposition = window::disposition;
using window::Rect;

// Runs the window's messages as the module's event loop does, until `fini`
// holds or 8 s have passed.
bool Pomper(TFicheConfigurateurRecupDevis& fiche, const std::function<bool()>& fini) {
  const ULONGLONG fin = GetTickCount64() + 8000;
  while (!fini()) {
    if (GetTickCount64() > fin) return false;
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (fiche.MessageDeFenetre(message)) continue;
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
  }
  return true;
}

void PomperPendant(TFicheConfigurateurRecupDevis& fiche, ULONGLONG ms) {
  const ULONGLONG fin = GetTickCount64() + ms;
  Pomper(fiche, [&] { return GetTickCount64() > fin; });
}

// A control's place in its parent's client area.
Rect Place(HWND controle) {
  RECT r{};
  GetWindowRect(controle, &r);
  MapWindowPoints(HWND_DESKTOP, GetParent(controle), reinterpret_cast<POINT*>(&r), 2);
  return {r.left, r.top, r.right - r.left, r.bottom - r.top};
}

std::string Texte(HWND hwnd) {
  std::wstring texte(static_cast<std::size_t>(GetWindowTextLengthW(hwnd)) + 1, L'\0');
  texte.resize(
      static_cast<std::size_t>(GetWindowTextW(hwnd, texte.data(), static_cast<int>(texte.size()))));
  return platform::windows::Utf8(texte);
}

void Touche(HWND cible, WPARAM touche) {
  PostMessageW(cible, WM_KEYDOWN, touche, 1);
  PostMessageW(cible, WM_KEYUP, touche, 0xC0000001);
}

class FicheWin32Test : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    dossier_ = std::filesystem::temp_directory_path() /
               ("fiche_win32_test_" + std::to_string(GetCurrentProcessId()));
    std::filesystem::create_directories(dossier_);
    config_ = (dossier_ / "config.ini").string();
    std::ofstream(config_, std::ios::binary)
        << "[General]\r\nVersion=1\r\nConfigurateur=lumivane\r\n";
  }

  void TearDown() override {
    std::error_code ignore;
    std::filesystem::remove_all(dossier_, ignore);
    CoUninitialize();
  }

  std::unique_ptr<TFicheConfigurateurRecupDevis> Make() {
    window::Ports ports;
    ports.messages = &messages_;
    ports.browser = &browser_;
    ports.clock = &clock_;
    // Nothing listens there: the gateway request fails at once.
    ports.endpoints = {"http://127.0.0.1:1", "http://127.0.0.1:1"};
    ports.pictures_folders = {(dossier_ / "images").string()};
    auto fiche = std::make_unique<TFicheConfigurateurRecupDevis>(GetModuleHandleW(nullptr),
                                                                 std::move(ports));
    fiche->logique().setFichierTemp((dossier_ / "echange.xml").string());
    fiche->logique().setFichierConfig(config_);
    return fiche;
  }

  std::filesystem::path dossier_;
  std::string config_;
  lumivane::testing::RecorderMessages messages_;
  lumivane::testing::RecorderBrowser browser_;
  lumivane::testing::FixedClock clock_;
};

TEST_F(FicheWin32Test, WindowAsBuilt) {
  auto fiche = Make();
  HWND hwnd = fiche->hwnd();
  const int dpi = static_cast<int>(GetDpiForWindow(hwnd));
  const auto echelle = [dpi](const Rect& r) { return window::AEchelle(r, dpi); };

  EXPECT_EQ(Texte(hwnd), "Configurateur Lumivane");
  RECT client{};
  GetClientRect(hwnd, &client);
  EXPECT_EQ(client.right, window::AEchelle(disposition::kClientLargeur, dpi));
  EXPECT_EQ(client.bottom, window::AEchelle(disposition::kClientHauteur, dpi));
  const auto style = GetWindowLongPtrW(hwnd, GWL_STYLE);
  EXPECT_TRUE(style & WS_SYSMENU);
  EXPECT_FALSE(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME));

  EXPECT_EQ(Texte(fiche->btnDevisRecuperer), "Récupérer le devis");
  EXPECT_EQ(Place(fiche->btnDevisRecuperer), echelle(disposition::btnDevisRecuperer));
  EXPECT_EQ(Texte(fiche->btnAnnulerRecuperation), "Annuler");
  EXPECT_EQ(Place(fiche->btnAnnulerRecuperation), echelle(disposition::btnAnnulerRecuperation));
  EXPECT_EQ(Texte(fiche->lblChiffrage), "Une fois votre chiffrage terminé veuillez : ");
  EXPECT_EQ(Place(fiche->lblChiffrage).gauche, echelle(disposition::lblChiffrage).gauche);
  EXPECT_GE(Place(fiche->lblChiffrage).largeur, echelle(disposition::lblChiffrage).largeur);
  EXPECT_EQ(Texte(fiche->lblOu), "ou ");
  EXPECT_EQ(Texte(fiche->lblVersion), "Version 1 du 09/06/2020");
  EXPECT_EQ(Place(fiche->lblVersion).droite(), echelle(disposition::lblVersion).droite());
  EXPECT_GT(Place(fiche->lblVersion).largeur, echelle(disposition::lblVersion).largeur);
  EXPECT_FALSE(fiche->ImageVisible());
  EXPECT_TRUE(messages_.shown.empty());
}

TEST_F(FicheWin32Test, ActivationRunsOnceAfterTheFirstPaint) {
  auto fiche = Make();
  fiche->Montrer(SW_SHOWNORMAL);
  ASSERT_TRUE(Pomper(*fiche, [&] { return !messages_.shown.empty(); }));
  // The configurator's caption and picture, then the gateway's failure,
  // shown; the window stays.
  EXPECT_EQ(Texte(fiche->hwnd()), "Brevance - Configurateur lumivane");
  EXPECT_TRUE(fiche->ImageVisible());
  EXPECT_TRUE(browser_.opened.empty());
  ASSERT_NE(fiche->hwnd(), nullptr);
  EXPECT_EQ(GetFocus(), fiche->btnDevisRecuperer);

  // Later paints and the fallback delay start nothing more.
  InvalidateRect(fiche->hwnd(), nullptr, TRUE);
  PomperPendant(*fiche, 1200);
  EXPECT_EQ(messages_.shown.size(), 1u);

  // A window that is never painted is activated all the same.
  auto minimisee = Make();
  minimisee->Montrer(SW_SHOWMINNOACTIVE);
  EXPECT_TRUE(Pomper(*minimisee, [&] { return messages_.shown.size() == 2; }));
}

TEST_F(FicheWin32Test, EnterPressesTheFocusedButtonAndEscapeNothing) {
  auto fiche = Make();
  fiche->Montrer(SW_SHOWNORMAL);
  ASSERT_TRUE(Pomper(*fiche, [&] { return !messages_.shown.empty(); }));
  messages_.shown.clear();

  Touche(fiche->btnDevisRecuperer, VK_ESCAPE);
  PomperPendant(*fiche, 200);
  ASSERT_NE(fiche->hwnd(), nullptr);

  Touche(fiche->btnDevisRecuperer, VK_TAB);
  ASSERT_TRUE(Pomper(*fiche, [&] { return GetFocus() == fiche->btnAnnulerRecuperation; }));
  Touche(fiche->btnAnnulerRecuperation, VK_RETURN);
  // "Annuler": closed, no message, nothing written.
  EXPECT_TRUE(Pomper(*fiche, [&] { return fiche->hwnd() == nullptr; }));
  EXPECT_TRUE(messages_.shown.empty());
  EXPECT_FALSE(std::filesystem::exists(dossier_ / "echange.xml"));
}

}  // namespace
}  // namespace lumivane::app::win32
