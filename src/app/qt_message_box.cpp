#include "qt_message_box.h"

#include <QMessageBox>
#include <QString>
#include <optional>

#include "override_cursor.h"
#include "report/secrets.h"
#include "text/display.h"

namespace lumivane::app {

void QtMessageBox::ShowMessage(const std::string& text) {
  report::CopyMessageToJournalAndStderr(text);

  QMessageBox box(QMessageBox::Information, QStringLiteral("Module_Lumivane"),
                  QString::fromStdString(text::ForMessageBox(report::MaskedForMessageBox(text))),
                  QMessageBox::Ok);
  box.setTextFormat(Qt::PlainText);
  // An address given in a message can be copied.
  box.setTextInteractionFlags(Qt::TextSelectableByMouse);
  // A message raised during a network call must not show the busy cursor.
  std::optional<OverrideCursor> arrow;
  if (QApplication::overrideCursor() != nullptr) arrow.emplace(Qt::ArrowCursor);
  box.exec();
}

}  // namespace lumivane::app
