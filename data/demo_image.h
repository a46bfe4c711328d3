// Building a demo image ("demo_trk.bin" layout) from the records of a controller: the sizes
// header, then the parameter block, channel settings, side states, MakeBlock and channel
// registers at the fixed offsets of the demo format.
#pragma once

#include "data/record_store.h"

#include <cstdint>
#include <string>
#include <vector>

namespace velmar {

// Results.
inline constexpr int kDemoBuilt = 1;
inline constexpr int kDemoNoLink = -1;     // the sizes could not be read
inline constexpr int kDemoOddSizes = -2;   // record lengths the fixed layout cannot hold
inline constexpr int kDemoReadFailed = -3; // a record could not be read
inline constexpr int kDemoFileFailed = -4; // the file could not be written

// Reads everything the demo image holds from `store` into `demo` (1625 bytes).
int BuildDemoImage(RecordStore& store, std::vector<uint8_t>& demo, std::string* error = nullptr);
// BuildDemoImage, then the file, atomically.
int SaveDemoImage(RecordStore& store, const std::string& path, std::string* error = nullptr);

} // namespace velmar
