// The memory dump as the dump screen lays it out: 16 bytes a row, each byte as two digit cells
// and a separator cell, the row's text last; and the checks of the address and count texts.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace velmar {

inline constexpr int kDumpBytesPerRow = 16;
inline constexpr int kDumpColumns = 50; // address, 16 x (high, low, separator), text
inline constexpr int kDumpTextColumn = 49;
inline constexpr int kDumpLastSeparator = 48;
// One memory space of the controller: a dump never reaches beyond it.
inline constexpr uint32_t kDumpMemoryEnd = 0x10000;

// Digits 0-9 and upper-case A-F.
char DumpHighDigit(uint8_t b);
char DumpLowDigit(uint8_t b);
// Rows for `count` bytes.
int DumpRows(uint32_t count);

// Where a grid column lies within its row: the byte (0..15) and which digit. False for the
// address, separator and text columns.
struct DumpDigit {
    int byte = 0;
    bool high = false;
    int partnerColumn = 0; // the other digit of the same byte
};
bool DumpDigitAt(int column, DumpDigit& digit);
int DumpDigitColumn(int byte, bool high);

// A hexadecimal field text: not empty, only 0-9, A-F and a-f, value within 32 bits.
bool ParseDumpHex(std::string_view text, uint32_t& value);

// What DumpRangeCheck found.
enum class DumpRange {
    TooLong, // the block would leave the memory space
    Empty,   // a count of 0: nothing to read
    Ok,
};
DumpRange DumpRangeCheck(uint32_t address, uint32_t count);

inline constexpr const char* kDumpRangeText =
    "Блок не помещается в память контроллера: адрес + количество не больше 10000 (hex)";

// "%08x".
std::string DumpRowAddress(uint32_t address);

} // namespace velmar
