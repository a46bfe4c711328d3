// The controller number as the engineer types it: hexadecimal read the way scanf's "%x" reads it
// (leading blanks, an optional sign and "0x", then as many hex digits as there are).
#pragma once

#include <QString>
#include <optional>

namespace velmar::ui {

// The value, or nothing when no hex digit could be read. Values wrap to 32-bit int like "%x".
std::optional<int> ParseHexNumber(const QString& text);

} // namespace velmar::ui
