// What the profile commands share: their options, the profile file read with the engineer's
// confirmations, and the controllers on the line in a range of numbers.
#pragma once

#include "cli/cli_command.h"
#include "data/profile.h"

#include <string>
#include <vector>

namespace velmar::cli {

struct ProfileArgs {
    std::vector<std::string> positional;
    std::vector<std::string> metrological; // --metrological NAME,...
    std::vector<std::string> records;      // --records KIND,...
    std::vector<std::string> fields;       // --fields NAME,...
    std::string fromImage;                 // --from-image FILE
    std::string backupDir;                 // --backup-dir DIR
    std::string name;                      // --name TEXT
    bool dryRun = false;
    bool rollback = false;
};

// Splits a command's arguments into options and positional ones; false (reported, with
// `usage`) for an unknown option or one without its value.
bool ParseProfileArgs(const std::vector<std::string>& args, const char* usage, ProfileArgs& out);

// The positional arguments alone (no report of bad options: for telling whether a command
// runs offline).
std::vector<std::string> PositionalArgs(const std::vector<std::string>& args);

// Reads the profile at `path`; kExitOk, or kExitFile with the refusal reported.
int LoadProfile(const std::string& path, const ProfileReadOptions& options, Profile& profile);

// FIRST [LAST] from `args` starting at `from` (1..31 when absent; FIRST alone runs to 31):
// false when they are not numbers 1..255 in order.
bool ParseRange(const std::vector<std::string>& args, size_t from, int& first, int& last);

// The numbers in first..last that answer, in order (240 only with --reserve).
std::vector<int> AnsweringNumbers(Context& ctx, int first, int last);

} // namespace velmar::cli
