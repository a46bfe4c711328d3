// Journal entries for a whole-image write: one per changed field of every record the write
// took, "записано" when the whole image went in and "частично" for the records a write that
// stopped part-way did write.
#pragma once

#include "data/controller_model.h"
#include "data/device_image.h"
#include "data/image_write_report.h"
#include "data/journal_record.h"

#include <functional>
#include <vector>

namespace velmar {

// The bytes of a record as last read from the controller, or empty when they are not known.
using OldRecordFn = std::function<std::vector<uint8_t>(const ImageRecord&)>;

std::vector<JournalEntry> ImageLoadEntries(const JournalContext& context,
                                           const std::vector<uint8_t>& image,
                                           const ImageWriteReport& report, const SizesRecord& sizes,
                                           const OldRecordFn& old);

// The copies as read that the controller model holds, for ImageLoadEntries.
OldRecordFn ModelReadCopies(const ControllerModel& model);

} // namespace velmar
