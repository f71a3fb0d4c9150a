#pragma once

#include <QGuiApplication>

// The hourglass for the lifetime of a scope: the one way the program shows
// that it is busy where no progress level is open. Scopes nest.
class TWaitCursor {
public:
  TWaitCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
  ~TWaitCursor() { QGuiApplication::restoreOverrideCursor(); }
  TWaitCursor(const TWaitCursor&) = delete;
  TWaitCursor& operator=(const TWaitCursor&) = delete;
};
