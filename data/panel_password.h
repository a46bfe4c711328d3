// Passwords of the local control panel: up to ten decimal digits that must fit 32 bits.
#pragma once

#include <cstdint>
#include <string_view>

namespace velmar {

inline constexpr int kPanelPasswordDigits = 10;

// The check made on every change of a password text: valid when empty (nothing to store yet) or
// up to ten digits whose value fits 32 bits. Anything else (a pasted letter, an eleventh digit,
// ten digits above 4294967295) is invalid.
bool PanelPasswordValid(std::string_view text);
// The value to store: true only for a valid, non-empty text.
bool PanelPasswordValue(std::string_view text, uint32_t& value);

} // namespace velmar
