#include "platform/browser.h"

#include <QProcess>
#include <QString>
#include <QStringList>

namespace lumivane::platform {

bool XdgOpenBrowser::Open(const std::string& url) {
  // xdg-open would take a text starting with "-" as one of its options.
  if (url.empty() || url.front() == '-') return false;
  // Detached: the browser outlives the module. False when xdg-open is not on
  // PATH or cannot be executed.
  return QProcess::startDetached(QStringLiteral("xdg-open"), {QString::fromStdString(url)});
}

}  // namespace lumivane::platform
