// From a record write to journal entries: which record the address holds, and one entry per
// field whose value the write changed, named and shown as the screens do.
#pragma once

#include "data/journal.h"
#include "data/memory_map.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace velmar {

// Who writes to which controller, and in what operation.
struct JournalContext {
    JournalOrigin origin;
    std::string operation;
    std::string port;
    int ctrlr = 0;
    std::string ident;
};

// The record at a write's address: its kind and index, or none for raw memory.
struct RecordPlace {
    std::optional<RecordKind> kind;
    int index = 0;
};
RecordPlace PlaceOfAddress(int address, uint8_t space);
// The kind's name in the journal ("Params", "ChannelSetts", ...).
const char* RecordKindName(RecordKind kind);
// False for writes that are commands rather than settings (restart, relay test, live registers).
bool IsJournaledWrite(int address, uint8_t space);

// The entries for one record write: `oldBytes` null when the record was never read (every field
// is then entered with the old value "?"). No entries when nothing changed.
std::vector<JournalEntry> RecordChangeEntries(const JournalContext& context, int address,
                                              uint8_t space, const uint8_t* oldBytes, int oldLength,
                                              const uint8_t* newBytes, int newLength,
                                              const SizesRecord& sizes, const char* outcome);

// Whether a change of the field counts for how a volume is measured (the meter type and phases,
// each channel's calibration and corrections), and whether it is operating data that the
// station's system or the controller itself changes (prices, doses, states, totalisers, counts).
bool IsMetrologicalField(const std::string& recordKind, const std::string& field);
bool IsOperatingData(const std::string& recordKind, const std::string& field);

// "2026-12-08 13:13:05 anna@pc velmar-cli set-params COM1 Трк №1 Параметры контроллера: Доза в
// начале, мл: 100 -> 300 (записано)".
std::string JournalLine(const JournalEntry& entry);

} // namespace velmar
