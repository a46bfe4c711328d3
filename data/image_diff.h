// The differences between two saved device images, record by record and field by field, named
// as the screens name them: what `velmar-cli diff` and `verify` print and what a comparison
// table of the window shows.
#pragma once

#include "data/field_catalogue.h"
#include "data/memory_map.h"

#include <cstdint>
#include <string>
#include <vector>

namespace velmar {

struct ImageDifference {
    RecordKind kind;
    int index;   // channel 0..15, side 0..1, optional block 0..1, else 0
    int address; // the record's controller address
    std::string record; // RecordTitle: "Настройки канала 3 (Сторона А. Рукав 3)"
    int offset; // first byte within the record
    int length; // bytes
    std::string
        field; // the field's name ("Price", "AdrNaraTrk[2]"), empty for bytes no field covers
    std::string caption; // the screen's caption, or "байт 34" / "байты 34..35"
    std::string a;       // value in image A as the screen shows it (bytes: hex digits)
    std::string b;       // the same in image B
    bool inA = true;     // false: image A has no such bytes (other record sizes)
    bool inB = true;
    // The stored values, where the shown ones are equal although the bytes differ (a meter
    // factor of 200 and 201 both show 100 litres): empty otherwise.
    std::string storedA{};
    std::string storedB{};
};

// Compares two images (each checked with CheckSavedImage, or at least as long as its header
// announces): the sizes header field by field, then every record both images hold. Catalogued
// fields are compared whole; differing bytes no field covers are grouped into runs. A record or
// bytes that only one image holds (other sizes) appear with the other side absent. In record
// order; empty when the images are equal.
std::vector<ImageDifference> DiffImages(const std::vector<uint8_t>& a,
                                        const std::vector<uint8_t>& b);

// The differences between two copies of one record (`lengthA` and `lengthB` bytes; 0: absent),
// as DiffImages reports them for a record of the image of `topology`.
std::vector<ImageDifference> DiffRecord(RecordKind kind, int index, int address,
                                        const std::string& title, const uint8_t* a, int lengthA,
                                        const uint8_t* b, int lengthB,
                                        CatalogueTopology topology = {});

// "Состояние канала 1 (Сторона А. Рукав 1): Цена, руб: 12,34 -> 15,00" ("нет" for an absent
// side); values shown alike get their stored ones: "100 -> 100 (в памяти 200 -> 201)".
std::string DifferenceLine(const ImageDifference& d);
// " (в памяти 200 -> 201)" when the difference has stored values, else empty.
std::string StoredValuesText(const ImageDifference& d);
// "0x2000": the controller address of a record, as verify has always named records.
std::string RecordAddressText(int address);

} // namespace velmar
