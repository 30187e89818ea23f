#include "platform/files.h"

#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QString>
#include <cerrno>
#include <cstring>

namespace lumivane::platform {

namespace {

QString ToQString(const std::string& path) { return QString::fromStdString(path); }

[[noreturn]] void ThrowWriteError(const std::string& path, const std::string& reason) {
  throw FileError("Impossible d'écrire le fichier " + path + " : " + reason);
}

}  // namespace

void ReplaceFileContents(const std::string& path, const std::string& bytes) {
  // QSaveFile writes into a temporary file in the target's folder and only
  // renames it over the target on commit(); when anything fails before that,
  // its destructor removes the temporary file and the target stays untouched.
  QSaveFile file(ToQString(path));
  if (!file.open(QIODevice::WriteOnly)) {
    ThrowWriteError(path, file.errorString().toStdString());
  }
  const qint64 size = static_cast<qint64>(bytes.size());
  qint64 done = 0;
  while (done < size) {
    const qint64 n = file.write(bytes.data() + done, size - done);
    if (n <= 0) {
      const std::string reason = file.errorString().toStdString();
      file.cancelWriting();
      ThrowWriteError(path, reason);
    }
    done += n;
  }
  if (!file.flush()) {
    const std::string reason = file.errorString().toStdString();
    file.cancelWriting();
    ThrowWriteError(path, reason);
  }
  // The data must be on disk before the rename makes it the target's content.
  if (::fsync(file.handle()) != 0) {
    const std::string reason = std::strerror(errno);
    file.cancelWriting();
    ThrowWriteError(path, reason);
  }
  if (!file.commit()) {
    ThrowWriteError(path, file.errorString().toStdString());
  }
}

std::string ReadFileBytes(const std::string& path) {
  QFile file(ToQString(path));
  if (!file.open(QIODevice::ReadOnly)) {
    throw FileError("Impossible de lire le fichier " + path + " : " +
                    file.errorString().toStdString());
  }
  const QByteArray data = file.readAll();
  if (file.error() != QFileDevice::NoError) {
    throw FileError("Impossible de lire le fichier " + path + " : " +
                    file.errorString().toStdString());
  }
  return std::string(data.constData(), static_cast<std::size_t>(data.size()));
}

bool FileExists(const std::string& path) {
  if (path.empty()) {
    return false;
  }
  const QFileInfo info(ToQString(path));
  return info.exists() && !info.isDir();
}

}  // namespace lumivane::platform
