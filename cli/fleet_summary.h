// What fleet.json and the terminal say of each line of a multi-line run, from the line's own
// --json output and its new backup copies.
#pragma once

#include "cli/json_output.h"
#include "cli/line_fleet.h"

#include <string>

namespace velmar::cli::fleet {

// What the line's own --json output says, in one phrase, plus the figures for fleet.json.
std::string Summarise(const std::string& command, const Json& result, Json& item);
// How many of the changes the line's new copies show a journal explains.
void AddChangeCounts(const std::string& lineDir, const Fleet& fleet, Json& item);

} // namespace velmar::cli::fleet
