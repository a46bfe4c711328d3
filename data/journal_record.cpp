#include "data/journal_record.h"

#include "data/field_catalogue.h"
#include "data/image_diff.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace velmar {

namespace {

constexpr const char* kUnknownValue = "?";

bool Is(const std::string& field, const char* name) {
    return field == name || field.rfind(std::string(name) + "[", 0) == 0;
}

// The record whose bytes hold `address` past its first one (a write into the middle of a record),
// with the offset there; none for raw memory and for records of the sizes record's length.
std::optional<RecordPlace> InsideRecord(int address, uint8_t space, int& offset, int& length) {
    for (const MemoryMapEntry& e : MemoryMap()) {
        if (e.space != space || e.length <= 1) continue;
        const int instances = e.stride == 0 ? 1 : e.count;
        for (int i = 0; i < instances; ++i) {
            const int start = e.address + i * e.stride;
            if (address > start && address < start + e.length) {
                offset = address - start;
                length = e.length;
                return RecordPlace{e.kind, i};
            }
        }
    }
    return std::nullopt;
}

} // namespace

RecordPlace PlaceOfAddress(int address, uint8_t space) {
    for (const MemoryMapEntry& e : MemoryMap()) {
        if (e.space != space) continue;
        if (e.count == 1 || e.stride == 0) {
            if (address == e.address) return {e.kind, 0};
            continue;
        }
        const int offset = address - e.address;
        if (offset >= 0 && offset % e.stride == 0 && offset / e.stride < e.count)
            return {e.kind, offset / e.stride};
    }
    return {};
}

const char* RecordKindName(RecordKind kind) {
    switch (kind) {
    case RecordKind::OptionalBlock:
        return "OptionalBlock";
    case RecordKind::ChannelSetts:
        return "ChannelSetts";
    case RecordKind::ChannelRegs:
        return "ChannelRegs";
    case RecordKind::Block3000:
        return "Block3000";
    case RecordKind::Sizes:
        return "Sizes";
    case RecordKind::ParamsLength:
        return "ParamsLength";
    case RecordKind::Params:
        return "Params";
    case RecordKind::SideState:
        return "SideState";
    case RecordKind::TempTable:
        return "TempTable";
    case RecordKind::MakeBlock:
        return "MakeBlock";
    default:
        return "";
    }
}

bool IsJournaledWrite(int address, uint8_t space) {
    const RecordPlace place = PlaceOfAddress(address, space);
    if (!place.kind) return space == 0 || space == 4;
    switch (*place.kind) {
    case RecordKind::StatusIR:
    case RecordKind::TempAdcIR:
    case RecordKind::RelayIR:
    case RecordKind::RunRegsIR:
    case RecordKind::Restart:
        return false;
    default:
        return true;
    }
}

std::vector<JournalEntry> RecordChangeEntries(const JournalContext& context, int address,
                                              uint8_t space, const uint8_t* oldBytes, int oldLength,
                                              const uint8_t* newBytes, int newLength,
                                              const SizesRecord& sizes, const char* outcome) {
    RecordPlace place = PlaceOfAddress(address, space);
    // A write into a record's middle is entered by field, as one of the whole record would be.
    int offset = 0;
    int recordLength = 0;
    if (!place.kind)
        if (const auto inside = InsideRecord(address, space, offset, recordLength)) place = *inside;
    const RecordKind kind = place.kind.value_or(RecordKind::Restart); // no catalogue: raw bytes
    std::string title;
    if (place.kind) {
        title = RecordTitle(kind, place.index, sizes.sides, sizes.nozzlesPerSide);
    } else {
        char text[32];
        std::snprintf(text, sizeof text, "Память 0x%04X", address);
        title = text;
    }
    // Never read: compare with the complement, so that every field and byte shows as changed.
    std::vector<uint8_t> unknown;
    const bool known = oldBytes != nullptr;
    if (!known) {
        unknown.assign(newBytes, newBytes + newLength);
        for (uint8_t& b : unknown) b = static_cast<uint8_t>(~b);
        oldBytes = unknown.data();
        oldLength = newLength;
    }
    // The rest of the record is alike in both copies, so only the fields the write covers differ.
    std::vector<uint8_t> paddedOld, paddedNew;
    if (offset > 0) {
        const size_t whole =
            static_cast<size_t>(std::max({recordLength, offset + oldLength, offset + newLength}));
        paddedOld.assign(whole, 0);
        paddedNew.assign(whole, 0);
        std::copy(oldBytes, oldBytes + oldLength, paddedOld.begin() + offset);
        std::copy(newBytes, newBytes + newLength, paddedNew.begin() + offset);
        oldBytes = paddedOld.data();
        newBytes = paddedNew.data();
        oldLength = newLength = static_cast<int>(whole);
        address -= offset;
    }
    std::vector<JournalEntry> out;
    const std::string now = JournalNow();
    CatalogueTopology topology;
    if (sizes.sides > 0 && sizes.nozzlesPerSide > 0) topology = {sizes.sides, sizes.nozzlesPerSide};
    for (const ImageDifference& d : DiffRecord(kind, place.index, address, title, oldBytes,
                                               oldLength, newBytes, newLength, topology)) {
        if (!d.inB) continue; // bytes the write did not cover
        JournalEntry e;
        e.time = now;
        e.user = context.origin.user;
        e.host = context.origin.host;
        e.program = context.origin.program;
        e.operation = context.operation;
        e.port = context.port;
        e.ctrlr = context.ctrlr;
        e.ident = context.ident;
        e.recordKind = place.kind ? RecordKindName(kind) : "";
        e.recordIndex = place.index;
        e.record = d.record;
        e.field = d.field;
        e.caption = d.caption;
        e.oldValue = known && d.inA ? d.a : kUnknownValue;
        e.newValue = d.b;
        e.outcome = outcome;
        out.push_back(std::move(e));
    }
    return out;
}

bool IsMetrologicalField(const std::string& recordKind, const std::string& field) {
    if (recordKind == "ChannelSetts") return true; // calibration, meter factor, corrections
    if (recordKind == "Params") return Is(field, "MeterType") || Is(field, "PhaseMet");
    return false;
}

bool IsOperatingData(const std::string& recordKind, const std::string& field) {
    if (recordKind == "ChannelRegs") return true; // states, doses, prices, totalisers, counts
    if (recordKind == "SideState")
        return Is(field, "ActiveNoz") || Is(field, "CountTranz") || field.empty();
    return false;
}

std::string JournalLine(const JournalEntry& e) {
    std::string line = JournalLocalTime(e.time) + " " + e.user + "@" + e.host + " " + e.program;
    if (!e.operation.empty()) line += " «" + e.operation + "»";
    if (!e.port.empty()) line += " " + e.port;
    line += " Трк №" + std::to_string(e.ctrlr);
    // The identification's first line names the controller well enough for a listing.
    if (const std::string first = e.ident.substr(0, e.ident.find('\n')); !first.empty())
        line += " (" + first + ")";
    line += " " + e.record + ": " + e.caption + ": " + e.oldValue + " -> " + e.newValue + " (" +
            e.outcome + ")";
    if (!e.origin.empty()) line += " [" + e.origin + "]";
    return line;
}

} // namespace velmar
