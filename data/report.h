// The parameter report: the controller's records read into one device buffer, and the plain
// text built from it (main settings, the mode bits as sentences, the fiscal totaliser of every
// hose and, in the extended form, the status flags of every hose).
#pragma once

#include "data/device_buffer.h"
#include "data/record_store.h"

#include <functional>
#include <string>
#include <vector>

namespace velmar {

// Reads the parameter block, the 16 channel settings, both side states, the MakeBlock and the
// 16 channel registers into `buffer`, each record at its own place: a failed or short read
// leaves (the rest of) its place 0 and moves nothing else. Works alike on a controller and on
// the demo image. Returns the number of records not read in full (0: all read). `progress`
// (when given) gets the records done and their total after each one.
int FillReportBuffer(RecordStore& store, DeviceBuffer& buffer,
                     const std::function<void(int done, int total)>& progress = {});

// The records of the report one by one, for a reader that shows progress and may stop between
// them: the parameter block, 16 channel settings, side A and B states, the MakeBlock, 16 channel
// registers.
inline constexpr int kReportRecordCount = 36;
// Reads record `index` (0..35) into its own place of `buffer`; true when it was read in full.
bool ReadReportRecord(RecordStore& store, DeviceBuffer& buffer, int index);
// "настройки канала 3": what record `index` holds, for the list of records not read.
std::string ReportRecordName(int index);
// Lines naming the records not read (none when `unread` is empty). The report puts them under
// its title, so that the zeros left in their places are not taken for the controller's values.
std::vector<std::string> UnreadRecordLines(const std::vector<int>& unread);

// The report, one string per line (UTF-8, no line ends). `ctrlrAddress` is the number in use.
std::vector<std::string> ReportLines(const DeviceBuffer& buffer, int ctrlrAddress, bool extended);

// The lines joined by `lineEnd`, with a line end after the last one.
std::string JoinLines(const std::vector<std::string>& lines, const char* lineEnd = "\n");

} // namespace velmar
