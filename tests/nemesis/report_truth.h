// A parameter report held against the controller's memory: right line for line, or failed and
// naming (by count) every record whose values it lacks. A report that stands a wrong value in
// for a record it did not read, or more of them than it says, is wrong.
#pragma once

#include <string>
#include <vector>

namespace velmar::test {

// Empty when `printed` (the report's text) is the controller's; else what is wrong. `failed`:
// the command said it failed with `unread` records not read.
std::string CheckReport(const std::string& printed, bool failed, int unread,
                        const std::vector<uint8_t>& er, const std::vector<uint8_t>& ir,
                        const std::vector<uint8_t>& im, int number);

// The count of "не считано записей - N" in a report's failure, -1 when it names none.
int UnreadCount(const std::string& err);

} // namespace velmar::test
