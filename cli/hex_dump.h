// Hexadecimal input and the hex-and-text dump of memory blocks.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace velmar::cli {

// Whole-string hexadecimal number (an optional 0x prefix allowed).
std::optional<unsigned long> ParseHex(const std::string& text);
// Hexadecimal byte pairs; spaces, ':' and '-' between pairs are allowed. Empty on bad input.
std::optional<std::vector<uint8_t>> ParseHexBytes(const std::string& text);
// 16 bytes a row: the row address as "%08x", upper-case hex pairs, then the text column
// (code page 1251 shown in UTF-8; 0 as a blank, other control bytes as '.').
std::string HexDump(uint32_t address, const uint8_t* bytes, size_t count);

} // namespace velmar::cli
