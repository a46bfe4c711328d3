// What a whole-image write left in the controller, and the engineer's text for a write that
// stopped part-way: which records hold the new image, which still hold the old one, and what to
// do about it.
#pragma once

#include "data/device_image.h"

#include <string>
#include <vector>

namespace velmar {

struct ImageWriteReport {
    bool anythingSent = false;           // false: the controller was not changed
    std::vector<ImageRecord> written;    // records written whole, in image order
    std::vector<ImageRecord> notWritten; // the record the write stopped in, then those after it
};

// The text for a write that did not complete (UTF-8, several lines).
std::string ImageWriteFailureText(const ImageWriteReport& report);

} // namespace velmar
