// Draws the window as the salesperson sees it once the configurator is open
// (caption and picture of "lumivane") into a PNG file, without a display:
//   QT_QPA_PLATFORM=offscreen lumivane-window-picture docs/window.png
#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <cstdio>

#include "fiche_configurateur.h"
#include "report/messages.h"

namespace {

class NoMessages : public lumivane::report::MessagePort {
 public:
  void ShowMessage(const std::string& text) override {
    lumivane::report::CopyMessageToJournalAndStderr(text);
  }
};

}  // namespace

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: lumivane-window-picture FILE.png\n");
    return 2;
  }
  NoMessages messages;
  lumivane::window::Ports ports;
  ports.messages = &messages;
  lumivane::app::TFicheConfigurateurRecupDevis fiche(std::move(ports));
  fiche.setWindowTitle(QStringLiteral("Brevance - Configurateur lumivane"));
  fiche.imgLumivane->setVisible(true);

  // The client area framed by a plain title bar, as a window manager would.
  const QPixmap client = fiche.grab();
  constexpr int kTitle = 24;
  QImage picture(client.width() + 2, client.height() + kTitle + 1, QImage::Format_RGB32);
  picture.fill(QColor(0x3c, 0x5a, 0x82));
  QPainter painter(&picture);
  painter.drawPixmap(1, kTitle, client);
  painter.setPen(Qt::white);
  QFont font = fiche.font();
  font.setBold(true);
  painter.setFont(font);
  painter.drawText(QRect(8, 0, client.width() - 30, kTitle), Qt::AlignVCenter, fiche.windowTitle());
  painter.drawText(QRect(client.width() - 20, 0, 16, kTitle), Qt::AlignCenter, QStringLiteral("✕"));
  painter.end();
  if (!picture.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
    std::fprintf(stderr, "lumivane-window-picture: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
