// Every field of the records a saved device image holds, with the caption the screens give it
// and the way the screens show its value: the names a comparison of two images (or of an image
// and a controller) reports its differences by.
#pragma once

#include "data/field_entry.h"
#include "data/memory_map.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace velmar {

// How a catalogued value is shown beyond the edit-field bindings.
enum class ValueFormat : uint8_t {
    Binding, // as the edit field shows it (FormatEntry)
    Item,    // the combo box item the value selects; the number when no item has it
    State,   // the channel state list (codes 0..15 and 43..46)
    Date,    // three bytes day, month, year as "dd.mm.yy"
};

// How the items of a field are named and split beyond one per field.
enum class Split : uint8_t {
    Elements, // arrays: one item per element, captions numbered from 1
    Whole,    // one item for the whole field
    SideMap,  // the physical map: elements alternate side A and B by position, named as the
              // grids of both sides show them
    Bits,     // one item per bit named by `items` (a check list); the bits without an item
              // in one item of their own
};

struct CatalogueField {
    Field field;         // offset, width and, for arrays, the element count
    const char* caption; // as the screen labels it (UTF-8)
    ValueFormat format = ValueFormat::Binding;
    FieldBinding binding{}; // ValueFormat::Binding
    std::span<const char* const> items{};
    Split split = Split::Elements;

    // Bytes the field covers in its record.
    int End() const { return field.End(); }
};

// The fields of one record kind (Sizes, Params, ChannelSetts, ChannelRegs, SideState,
// MakeBlock); empty for the kinds no screen shows field by field.
std::span<const CatalogueField> FieldCatalogue(RecordKind kind);

// One field as compared: an element of an array field, or a bit of a check list, counts as a
// field of its own.
struct CatalogueItem {
    const CatalogueField* field;
    int element; // -1 for a field that is not split into elements (or bits)
    int offset;  // in the record
    int width;   // bytes
    std::string caption;
    uint32_t mask = 0; // the bits of the value the item stands for; 0: all of them
};

// The topology a record belongs to, which the physical map's naming depends on: with one side
// of two hoses its first two bytes are both side A's.
struct CatalogueTopology {
    int sides = 2;
    int nozzlesPerSide = 8;
};

// Every field of `kind`, arrays split into their elements, in record order.
std::vector<CatalogueItem> CatalogueItems(RecordKind kind, CatalogueTopology topology = {});
// Whether `item` has the same value in both records (each at least item.offset + width long).
bool SameCatalogueValue(const CatalogueItem& item, const uint8_t* a, const uint8_t* b);
// The value of `item` in `record` (`size` bytes) as its screen shows it; empty when the record
// is too short to hold the field.
std::string FormatCatalogueValue(const CatalogueItem& item, const uint8_t* record, size_t size);

// "Настройки канала 3 (Сторона А. Рукав 3)": the record as the engineer knows it. Channels are
// numbered from 1; `sides` and `nozzlesPerSide` (from the sizes header) add the side and hose of
// a channel in use.
std::string RecordTitle(RecordKind kind, int index, int sides, int nozzlesPerSide);

} // namespace velmar
