#include "platform/browser.h"

#include "platform/url.h"

#include <QProcess>
#include <QString>
#include <QStringList>

namespace lumivane::platform {

bool XdgOpenBrowser::Open(const std::string& url) {
  // Only web addresses, as on Windows: xdg-open on anything else would open
  // a file or start a program (and take a text starting with "-" as one of
  // its options).
  if (!IsHttpUrl(url)) return false;
  // Detached: the browser outlives the module. False when xdg-open is not on
  // PATH or cannot be executed.
  return QProcess::startDetached(QStringLiteral("xdg-open"), {QString::fromStdString(url)});
}

}  // namespace lumivane::platform
