// Building a demo image ("demo_trk.bin" layout) from the records of a controller: the sizes
// header, then the parameter block, channel settings, side states, MakeBlock and channel
// registers at the fixed offsets of the demo format.
#pragma once

#include "data/record_store.h"

#include <cstdint>
#include <string>
#include <vector>

namespace velmar {

// What became of building and saving a demo image.
enum class DemoBuildResult {
    NoLink,     // the sizes could not be read
    OddSizes,   // record lengths the fixed layout cannot hold
    ReadFailed, // a record could not be read
    FileFailed, // the file could not be written
    Built,
};

// Reads everything the demo image holds from `store` into `demo` (1625 bytes).
DemoBuildResult BuildDemoImage(RecordStore& store, std::vector<uint8_t>& demo,
                               std::string* error = nullptr);
// BuildDemoImage, then the file, atomically.
DemoBuildResult SaveDemoImage(RecordStore& store, const std::string& path,
                              std::string* error = nullptr);

} // namespace velmar
