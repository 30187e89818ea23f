#include "fenetre_win32.h"

#include <wincodec.h>
#include <wrl/client.h>

#include <algorithm>
#include <cwchar>
#include <exception>
#include <stdexcept>
#include <utility>

#include "ressources.h"
#include "platform/windows/wide.h"
#include "report/messages.h"
#include "text/user_texts.h"
#include "window/disposition.h"

namespace lumivane::app::win32 {

namespace {

using Microsoft::WRL::ComPtr;
using window::Rect;
namespace disposition = window::disposition;

constexpr wchar_t kClasse[] = L"TFicheConfigurateurRecupDevis";
constexpr UINT kMessageActivation = WM_APP + 1;
// A continuation from PlanificateurWin32: LPARAM is a std::function<void()>
// allocated for it, which the window deletes once run.
constexpr UINT kMessageSuite = WM_APP + 2;
constexpr UINT_PTR kMinuterieSecours = 1;
constexpr int kIdRecuperer = 101;
constexpr int kIdAnnuler = 102;

// bsDialog: fixed size, a close box, no minimise or maximise button.
constexpr DWORD kStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
constexpr DWORD kStyleEtendu =
    WS_EX_DLGMODALFRAME | WS_EX_WINDOWEDGE | WS_EX_CONTROLPARENT | WS_EX_APPWINDOW;

void Verifier(HRESULT resultat, const char* etape) {
  if (FAILED(resultat)) {
    throw std::runtime_error(text::UserMessage(text::UserText::kWindowPictureNotPrepared, {etape}));
  }
}

// The picture in the executable's resources, decoded by WIC.
struct ImageSource {
  ComPtr<IWICImagingFactory> fabrique;
  ComPtr<IWICBitmapFrameDecode> trame;
};

ImageSource OuvrirImage(HINSTANCE instance) {
  HRSRC ressource = FindResourceW(instance, MAKEINTRESOURCEW(IDR_IMAGE_LUMIVANE), RT_RCDATA);
  HGLOBAL chargee = ressource ? LoadResource(instance, ressource) : nullptr;
  auto* octets = chargee ? static_cast<BYTE*>(LockResource(chargee)) : nullptr;
  if (octets == nullptr) Verifier(E_FAIL, "ressource");

  ImageSource source;
  Verifier(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                            IID_PPV_ARGS(&source.fabrique)),
           "WIC");
  ComPtr<IWICStream> flux;
  Verifier(source.fabrique->CreateStream(&flux), "flux");
  Verifier(flux->InitializeFromMemory(octets, SizeofResource(instance, ressource)), "flux");
  ComPtr<IWICBitmapDecoder> decodeur;
  Verifier(source.fabrique->CreateDecoderFromStream(flux.Get(), nullptr,
                                                    WICDecodeMetadataCacheOnLoad, &decodeur),
           "JPEG");
  Verifier(decodeur->GetFrame(0, &source.trame), "JPEG");
  return source;
}

// The picture's own size.
SIZE TailleImageOrigine(HINSTANCE instance) {
  UINT largeur = 0, hauteur = 0;
  Verifier(OuvrirImage(instance).trame->GetSize(&largeur, &hauteur), "JPEG");
  return {static_cast<LONG>(largeur), static_cast<LONG>(hauteur)};
}

// The picture scaled to `taille`, as a device-independent bitmap.
HBITMAP ImageMiseALEchelle(HINSTANCE instance, SIZE taille) {
  const ImageSource source = OuvrirImage(instance);
  ComPtr<IWICBitmapScaler> echelle;
  Verifier(source.fabrique->CreateBitmapScaler(&echelle), "échelle");
  Verifier(echelle->Initialize(source.trame.Get(), static_cast<UINT>(taille.cx),
                               static_cast<UINT>(taille.cy), WICBitmapInterpolationModeFant),
           "échelle");
  ComPtr<IWICFormatConverter> conversion;
  Verifier(source.fabrique->CreateFormatConverter(&conversion), "conversion");
  Verifier(
      conversion->Initialize(echelle.Get(), GUID_WICPixelFormat32bppBGR, WICBitmapDitherTypeNone,
                             nullptr, 0.0, WICBitmapPaletteTypeCustom),
      "conversion");

  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = taille.cx;
  info.bmiHeader.biHeight = -taille.cy;  // top-down rows, as WIC gives them
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* pixels = nullptr;
  HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &pixels, nullptr, 0);
  if (bitmap == nullptr) Verifier(E_OUTOFMEMORY, "bitmap");
  const UINT pas = static_cast<UINT>(taille.cx) * 4;
  const HRESULT copie = conversion->CopyPixels(nullptr, pas, pas * static_cast<UINT>(taille.cy),
                                               static_cast<BYTE*>(pixels));
  if (FAILED(copie)) {
    DeleteObject(bitmap);
    Verifier(copie, "pixels");
  }
  return bitmap;
}

HWND Controle(HWND parent, HINSTANCE instance, const wchar_t* classe, const char* texte,
              DWORD style, int id) {
  HWND controle = CreateWindowExW(0, classe, platform::windows::Wide(texte).c_str(),
                                  WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0, parent,
                                  reinterpret_cast<HMENU>(INT_PTR{id}), instance, nullptr);
  if (controle == nullptr) {
    throw std::runtime_error(text::UserMessage(text::UserText::kWindowNotCreated));
  }
  return controle;
}

// Deletes the continuations still waiting for a window that goes away.
void OublierSuites(HWND fenetre) {
  MSG message;
  while (PeekMessageW(&message, fenetre, kMessageSuite, kMessageSuite, PM_REMOVE)) {
    // PeekMessage hands out WM_QUIT whatever the filter: the window's own
    // WM_DESTROY has just posted it, and the message loop must still get it.
    if (message.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(message.wParam));
      break;
    }
    delete reinterpret_cast<std::function<void()>*>(message.lParam);
  }
}

// The width of a control's text in its font.
int LargeurTexte(HWND controle, HFONT police) {
  const int longueur = GetWindowTextLengthW(controle);
  std::wstring texte(static_cast<std::size_t>(longueur) + 1, L'\0');
  GetWindowTextW(controle, texte.data(), longueur + 1);
  HDC dc = GetDC(controle);
  HGDIOBJ avant = SelectObject(dc, police);
  SIZE taille{};
  GetTextExtentPoint32W(dc, texte.c_str(), longueur, &taille);
  SelectObject(dc, avant);
  ReleaseDC(controle, dc);
  return taille.cx;
}

}  // namespace

TFicheConfigurateurRecupDevis::TFicheConfigurateurRecupDevis(HINSTANCE instance,
                                                             window::Ports ports,
                                                             Win32MessageBox* boite)
    : instance_(instance), messages_(*ports.messages), boite_(boite) {
  WNDCLASSEXW classe{};
  classe.cbSize = sizeof(classe);
  classe.lpfnWndProc = &Procedure;
  classe.hInstance = instance;
  classe.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_LUMIVANE));
  classe.hIconSm = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_LUMIVANE),
                                                 IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                                 GetSystemMetrics(SM_CYSMICON), 0));
  classe.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  classe.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  classe.lpszClassName = kClasse;
  if (RegisterClassExW(&classe) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
    throw std::runtime_error(text::UserMessage(text::UserText::kWindowNotCreated));
  }

  hwnd_ = CreateWindowExW(kStyleEtendu, kClasse, L"Configurateur Lumivane", kStyle, CW_USEDEFAULT,
                          CW_USEDEFAULT, disposition::kClientLargeur, disposition::kClientHauteur,
                          nullptr, nullptr, instance, this);
  if (hwnd_ == nullptr) {
    throw std::runtime_error(text::UserMessage(text::UserText::kWindowNotCreated));
  }
  try {
    Construire(std::move(ports));
  } catch (...) {
    Liberer();
    throw;
  }
}

void TFicheConfigurateurRecupDevis::Construire(window::Ports ports) {
  dpi_ = GetDpiForWindow(hwnd_);

  HINSTANCE instance = instance_;
  lblChiffrage =
      Controle(hwnd_, instance, L"STATIC",
               "Une fois votre chiffrage terminé veuillez : ", SS_LEFT | SS_NOPREFIX, -1);
  lblOu = Controle(hwnd_, instance, L"STATIC", "ou ", SS_LEFT | SS_NOPREFIX, -1);
  lblVersion = Controle(hwnd_, instance, L"STATIC", "Version ", SS_RIGHT | SS_NOPREFIX, -1);
  // The progress of a retrieval, shown only while there is one.
  lblAvancement = Controle(hwnd_, instance, L"STATIC", "", SS_LEFT | SS_NOPREFIX, -1);
  ShowWindow(lblAvancement, SW_HIDE);
  // Tab order: "Récupérer le devis", then "Annuler". BS_NOTIFY tells when a
  // button takes the focus, so that the focused one looks like the default.
  btnDevisRecuperer = Controle(hwnd_, instance, L"BUTTON", "Récupérer le devis",
                               BS_DEFPUSHBUTTON | BS_NOTIFY | WS_TABSTOP, kIdRecuperer);
  btnAnnulerRecuperation = Controle(hwnd_, instance, L"BUTTON", "Annuler",
                                    BS_PUSHBUTTON | BS_NOTIFY | WS_TABSTOP, kIdAnnuler);

  focus_ = btnDevisRecuperer;
  tailleImage_ = TailleImageOrigine(instance);
  CreerPolices();
  Disposer();

  // Centred on the work area of the primary monitor: the main window has no
  // owner.
  RECT fenetre{};
  GetWindowRect(hwnd_, &fenetre);
  MONITORINFO moniteur{};
  moniteur.cbSize = sizeof(moniteur);
  GetMonitorInfoW(MonitorFromWindow(hwnd_, MONITOR_DEFAULTTOPRIMARY), &moniteur);
  const RECT& travail = moniteur.rcWork;
  const int largeur = fenetre.right - fenetre.left;
  const int hauteur = fenetre.bottom - fenetre.top;
  SetWindowPos(hwnd_, nullptr, travail.left + (travail.right - travail.left - largeur) / 2,
               travail.top + (travail.bottom - travail.top - hauteur) / 2, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);

  if (boite_ != nullptr) boite_->SetOwner(hwnd_);
  // The controls exist: the behaviour sets lblVersion.
  logique_ = std::make_unique<window::FicheLogique>(*this, std::move(ports));
}

TFicheConfigurateurRecupDevis::~TFicheConfigurateurRecupDevis() { Liberer(); }

void TFicheConfigurateurRecupDevis::Liberer() {
  logique_.reset();
  if (boite_ != nullptr) boite_->SetOwner(nullptr);
  if (hwnd_ != nullptr) {
    // No message reaches this object once it is gone.
    SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
    OublierSuites(hwnd_);
    DestroyWindow(hwnd_);
    hwnd_ = nullptr;
  }
  if (image_ != nullptr) DeleteObject(image_);
  if (police_ != nullptr) DeleteObject(police_);
  if (policeGras_ != nullptr) DeleteObject(policeGras_);
  image_ = nullptr;
  police_ = policeGras_ = nullptr;
}

void TFicheConfigurateurRecupDevis::Montrer(int commande) {
  if (activation_.Montree()) {
    SetTimer(hwnd_, kMinuterieSecours, window::DeclencheurActivation::kDelaiSecoursMs, nullptr);
  }
  ShowWindow(hwnd_, commande);
  UpdateWindow(hwnd_);
}

bool TFicheConfigurateurRecupDevis::MessageDeFenetre(MSG& message) {
  return hwnd_ != nullptr && IsDialogMessageW(hwnd_, &message);
}

void TFicheConfigurateurRecupDevis::DefinirTitre(const std::string& titre) {
  SetWindowTextW(hwnd_, platform::windows::Wide(titre).c_str());
}

void TFicheConfigurateurRecupDevis::MontrerImage() {
  imageVisible_ = true;
  InvalidateRect(hwnd_, nullptr, TRUE);
}

void TFicheConfigurateurRecupDevis::DefinirVersion(const std::string& texte) {
  SetWindowTextW(lblVersion, platform::windows::Wide(texte).c_str());
  AncrerVersion();
}

void TFicheConfigurateurRecupDevis::DefinirOccupe(bool occupe) {
  occupe_ = occupe;
  SetCursor(LoadCursorW(nullptr, occupe ? IDC_WAIT : IDC_ARROW));
}

void TFicheConfigurateurRecupDevis::Fermer() { fermetureDemandee_ = true; }

template <typename Evenement>
void TFicheConfigurateurRecupDevis::Transmettre(Evenement evenement) {
  evenement();
  // Closing is a request: carried out once the handler has returned.
  if (fermetureDemandee_ && hwnd_ != nullptr) DestroyWindow(hwnd_);
}

Rect TFicheConfigurateurRecupDevis::Echelle(const Rect& rect) const {
  return window::AEchelle(rect, static_cast<int>(dpi_));
}

void TFicheConfigurateurRecupDevis::CreerPolices() {
  const auto police = [this](const wchar_t* nom, int graisse) {
    LOGFONTW description{};
    description.lfHeight = -MulDiv(disposition::kPointsPolice, static_cast<int>(dpi_), 72);
    description.lfWeight = graisse;
    description.lfCharSet = DEFAULT_CHARSET;
    description.lfQuality = CLEARTYPE_QUALITY;
    wcsncpy(description.lfFaceName, nom, LF_FACESIZE - 1);
    HFONT creee = CreateFontIndirectW(&description);
    if (creee == nullptr) {
      throw std::runtime_error(text::UserMessage(text::UserText::kWindowFontMissing));
    }
    return creee;
  };
  HFONT nouvelle = police(L"Tahoma", FW_NORMAL);
  // The TrueType successor of the bitmap font MS Sans Serif, with its
  // metrics: sharp at every scale.
  HFONT nouvelleGras = police(L"Microsoft Sans Serif", FW_BOLD);
  for (HWND controle :
       {lblOu, lblVersion, lblAvancement, btnDevisRecuperer, btnAnnulerRecuperation}) {
    SendMessageW(controle, WM_SETFONT, reinterpret_cast<WPARAM>(nouvelle), FALSE);
  }
  SendMessageW(lblChiffrage, WM_SETFONT, reinterpret_cast<WPARAM>(nouvelleGras), FALSE);
  if (police_ != nullptr) DeleteObject(police_);
  if (policeGras_ != nullptr) DeleteObject(policeGras_);
  police_ = nouvelle;
  policeGras_ = nouvelleGras;
}

void TFicheConfigurateurRecupDevis::Disposer() {
  // The client area, at the window's resolution.
  const int dpi = static_cast<int>(dpi_);
  RECT cadre{0, 0, window::AEchelle(disposition::kClientLargeur, dpi),
             window::AEchelle(disposition::kClientHauteur, dpi)};
  AdjustWindowRectExForDpi(&cadre, kStyle, FALSE, kStyleEtendu, dpi_);
  SetWindowPos(hwnd_, nullptr, 0, 0, cadre.right - cadre.left, cadre.bottom - cadre.top,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);

  Placer(lblChiffrage, window::SansCoupure(Echelle(disposition::lblChiffrage),
                                           LargeurTexte(lblChiffrage, policeGras_)));
  Placer(lblOu, window::SansCoupure(Echelle(disposition::lblOu), LargeurTexte(lblOu, police_)));
  Placer(btnDevisRecuperer, Echelle(disposition::btnDevisRecuperer));
  Placer(btnAnnulerRecuperation, Echelle(disposition::btnAnnulerRecuperation));
  Placer(lblAvancement, Echelle(disposition::lblAvancement));
  AncrerVersion();
  PreparerImage();
  InvalidateRect(hwnd_, nullptr, TRUE);
}

void TFicheConfigurateurRecupDevis::Placer(HWND controle, const Rect& rect) {
  MoveWindow(controle, rect.gauche, rect.haut, rect.largeur, rect.hauteur, TRUE);
}

void TFicheConfigurateurRecupDevis::AncrerVersion() {
  Placer(lblVersion,
         window::AncreADroite(Echelle(disposition::lblVersion), LargeurTexte(lblVersion, police_)));
}

void TFicheConfigurateurRecupDevis::PreparerImage() {
  const Rect place =
      window::ImageAjustee(Echelle(disposition::imgLumivane), tailleImage_.cx, tailleImage_.cy);
  HBITMAP nouvelle = ImageMiseALEchelle(instance_, {place.largeur, place.hauteur});
  if (image_ != nullptr) DeleteObject(image_);
  image_ = nouvelle;
  placeImage_ = place;
}

void TFicheConfigurateurRecupDevis::Peindre() {
  PAINTSTRUCT peinture;
  HDC dc = BeginPaint(hwnd_, &peinture);
  if (imageVisible_ && image_ != nullptr) {
    HDC memoire = CreateCompatibleDC(dc);
    HGDIOBJ avant = SelectObject(memoire, image_);
    BitBlt(dc, placeImage_.gauche, placeImage_.haut, placeImage_.largeur, placeImage_.hauteur,
           memoire, 0, 0, SRCCOPY);
    SelectObject(memoire, avant);
    DeleteDC(memoire);
  }
  EndPaint(hwnd_, &peinture);
}

void TFicheConfigurateurRecupDevis::BoutonParDefaut(HWND bouton) {
  for (HWND b : {btnDevisRecuperer, btnAnnulerRecuperation}) {
    SendMessageW(b, BM_SETSTYLE, (b == bouton ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON) | BS_NOTIFY,
                 TRUE);
  }
}

LRESULT CALLBACK TFicheConfigurateurRecupDevis::Procedure(HWND hwnd, UINT message, WPARAM wparam,
                                                          LPARAM lparam) {
  if (message == WM_NCCREATE) {
    const auto* creation = reinterpret_cast<const CREATESTRUCTW*>(lparam);
    auto* creee = static_cast<TFicheConfigurateurRecupDevis*>(creation->lpCreateParams);
    creee->hwnd_ = hwnd;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(creee));
  }
  auto* fiche =
      reinterpret_cast<TFicheConfigurateurRecupDevis*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (fiche == nullptr) return DefWindowProcW(hwnd, message, wparam, lparam);
  // Nothing may unwind through the system's frames: what escapes is shown
  // like any handler's error, and the window stays.
  try {
    return fiche->Traiter(hwnd, message, wparam, lparam);
  } catch (const std::exception& erreur) {
    fiche->messages_.ShowMessage(erreur.what());
  } catch (...) {
    fiche->messages_.ShowMessage(text::UserMessage(text::UserText::kUnexpectedError));
  }
  return 0;
}

LRESULT TFicheConfigurateurRecupDevis::Traiter(HWND hwnd, UINT message, WPARAM wparam,
                                               LPARAM lparam) {
  switch (message) {
    case WM_PAINT:
      Peindre();
      if (activation_.Planifier()) PostMessageW(hwnd_, kMessageActivation, 0, 0);
      return 0;
    case WM_TIMER:
      if (wparam == kMinuterieSecours) {
        KillTimer(hwnd_, kMinuterieSecours);
        if (activation_.Planifier()) PostMessageW(hwnd_, kMessageActivation, 0, 0);
        return 0;
      }
      break;
    case kMessageActivation:
      if (activation_.Lancer()) Transmettre([this] { logique_->Activer(); });
      return 0;
    case kMessageSuite: {
      const std::unique_ptr<std::function<void()>> suite(
          reinterpret_cast<std::function<void()>*>(lparam));
      Transmettre([&suite] { (*suite)(); });
      return 0;
    }
    case WM_CLOSE:
      // The close box, like "Annuler", stops the network step under way.
      if (logique_) logique_->Annuler();
      break;
    case WM_CTLCOLORSTATIC: {
      HDC dc = reinterpret_cast<HDC>(wparam);
      SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
      SetBkColor(dc, RGB(255, 255, 255));
      return reinterpret_cast<LRESULT>(GetStockObject(WHITE_BRUSH));
    }
    case WM_CTLCOLORBTN:
      return reinterpret_cast<LRESULT>(GetStockObject(WHITE_BRUSH));
    case WM_SETCURSOR:
      // The busy cursor while a network step runs, unless a message box
      // (which disables the window) is up meanwhile.
      if (occupe_ && IsWindowEnabled(hwnd_)) {
        SetCursor(LoadCursorW(nullptr, IDC_WAIT));
        return TRUE;
      }
      break;
    case DM_GETDEFID:
      // Enter presses the focused button.
      return MAKELRESULT(GetDlgCtrlID(focus_), DC_HASDEFID);
    case WM_COMMAND: {
      const int id = LOWORD(wparam);
      const int notification = HIWORD(wparam);
      if (notification == BN_SETFOCUS) {
        focus_ = reinterpret_cast<HWND>(lparam);
        BoutonParDefaut(focus_);
        return 0;
      }
      if (notification != BN_CLICKED) return 0;
      if (id == kIdRecuperer) Transmettre([this] { logique_->ClicRecuperer(); });
      if (id == kIdAnnuler) Transmettre([this] { logique_->ClicAnnuler(); });
      // Escape (IDCANCEL) has no meaning in this window.
      return 0;
    }
    case WM_DPICHANGED: {
      dpi_ = HIWORD(wparam);
      const auto* proposee = reinterpret_cast<const RECT*>(lparam);
      SetWindowPos(hwnd_, nullptr, proposee->left, proposee->top, proposee->right - proposee->left,
                   proposee->bottom - proposee->top, SWP_NOZORDER | SWP_NOACTIVATE);
      CreerPolices();
      Disposer();
      return 0;
    }
    case WM_ACTIVATE:
      // Coming back to the window gives the focus back to the button that
      // had it.
      if (LOWORD(wparam) != WA_INACTIVE) {
        SetFocus(focus_);
        return 0;
      }
      break;
    case WM_DESTROY:
      hwnd_ = nullptr;
      if (boite_ != nullptr) boite_->SetOwner(nullptr);
      PostQuitMessage(0);
      return 0;
    case WM_NCDESTROY:
      SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
      OublierSuites(hwnd);
      break;
    default:
      break;
  }
  return DefWindowProcW(hwnd, message, wparam, lparam);
}

void TFicheConfigurateurRecupDevis::DefinirAvancement(const std::string& texte) {
  SetWindowTextW(lblAvancement, platform::windows::Wide(texte).c_str());
  ShowWindow(lblAvancement, texte.empty() ? SW_HIDE : SW_SHOWNA);
}

void TFicheConfigurateurRecupDevis::ActiverRecuperer(bool actif) {
  EnableWindow(btnDevisRecuperer, actif ? TRUE : FALSE);
}

void PlanificateurWin32::SurFenetre(std::function<void()> suite) {
  auto colis = std::make_unique<std::function<void()>>(std::move(suite));
  HWND fenetre = fenetre_.load();
  if (fenetre == nullptr) return;
  if (PostMessageW(fenetre, kMessageSuite, 0, reinterpret_cast<LPARAM>(colis.get()))) {
    (void)colis.release();  // the window owns it now
  }
}

}  // namespace lumivane::app::win32
