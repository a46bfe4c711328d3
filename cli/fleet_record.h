// fleet.json, the record of a multi-line backup in its backup directory. Runs of different lines
// may share the directory and end at the same time: each merges its lines into the record under
// the directory's lock, so no line drops out and each keeps its latest outcome.
#pragma once

#include "cli/json_output.h"

#include <string>

namespace velmar::cli::fleet {

inline constexpr const char* kFleetName = "fleet.json";

// The record `before` left by earlier runs merged into this run's `doc`: a line of `before` this
// run did not take is kept; of one both took, the outcome that ended later (on a tie, a
// successful one). "complete" then tells whether every line of the record succeeded.
void MergeFleetRecord(Json& doc, const Json& before);

// Writes `doc`, merged with the record already in `top`, as TOP/fleet.json; false with `why`.
bool WriteFleetRecord(const std::string& top, Json doc, std::string& why);

} // namespace velmar::cli::fleet
