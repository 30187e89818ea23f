#pragma once

#include <QApplication>
#include <QCursor>
#include <utility>

namespace lumivane::app {

// An application-wide cursor for the lifetime of the object (a busy cursor
// around a network call, an arrow over a message box shown meanwhile).
class OverrideCursor {
 public:
  explicit OverrideCursor(Qt::CursorShape shape) {
    QApplication::setOverrideCursor(QCursor(shape));
  }
  ~OverrideCursor() {
    if (active_) QApplication::restoreOverrideCursor();
  }
  OverrideCursor(OverrideCursor&& other) noexcept : active_(std::exchange(other.active_, false)) {}
  OverrideCursor& operator=(OverrideCursor&&) = delete;
  OverrideCursor(const OverrideCursor&) = delete;
  OverrideCursor& operator=(const OverrideCursor&) = delete;

 private:
  bool active_ = true;
};

}  // namespace lumivane::app
