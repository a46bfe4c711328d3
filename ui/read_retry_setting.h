// The window's own settings file (an INI file of QSettings, user scope, "velmar/velmar":
// ~/.config/velmar/velmar.ini on Linux), apart from com.ini, whose format other programs rely on.
// It holds the number of times a failed controller read is repeated:
//
//   [exchange]
//   read_retries=2
//
// Read once at start, before any exchange; the window gives each port it opens that count.
#pragma once

#include <QSettings>
#include <QString>

namespace velmar::ui {

// Reads the setting from `settings` and applies it. A missing value keeps the default; a value
// that is not a whole number in 0..kMaxReadRetries keeps it too and returns a message saying so
// (empty when all is well).
QString ApplyReadRetrySetting(const QSettings& settings);
// The count taken from the settings (kDefaultReadRetries when none was).
int WindowReadRetries();

// The window's settings file.
QSettings WindowSettings();

} // namespace velmar::ui
