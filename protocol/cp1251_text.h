// Code page 1251 bytes (the controller's texts after conversion) to UTF-8 for terminals and
// windows.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace velmar {

// One byte as UTF-8; a byte that code page 1251 leaves undefined becomes '?'.
std::string Cp1251ByteToUtf8(uint8_t byte);
std::string Cp1251ToUtf8(std::string_view text);

} // namespace velmar
