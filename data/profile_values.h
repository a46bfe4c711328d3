// The values of a profile's fields: a text as the screens show it turned into the field's bits
// under the field's own entry rules, put into a record, and compared with what a record holds.
#pragma once

#include "data/field_catalogue.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace velmar {

// The bits of `text` for `item` (within item.mask when it has one): false, with `why`, when the
// screens would not take the text for the field (a read-only field takes none).
bool ParseItemValue(const CatalogueItem& item, const std::string& text, uint32_t& bits,
                    std::string& why);
// Puts `bits` (from ParseItemValue) into `record` (`size` bytes), leaving the bits of the field
// the item does not stand for; false when the record is too short.
bool StoreItemValue(const CatalogueItem& item, uint32_t bits, uint8_t* record, size_t size);
// Whether `record` holds `bits` in the item; false when the record is too short.
bool HoldsItemValue(const CatalogueItem& item, uint32_t bits, const uint8_t* record, size_t size);
// Whether a screen can enter the item at all.
bool ItemWritable(const CatalogueItem& item);

} // namespace velmar
