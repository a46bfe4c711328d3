// Whole-file reading with a size limit and atomic whole-file writing: the data go to a temporary
// file in the same directory, which replaces the target only when it was written completely,
// so a failure never leaves a half-written or emptied file behind.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace velmar {

// What reading a whole file found.
enum class FileReadResult {
    CannotOpen, // missing, unreadable, or not a regular file
    TooLong,    // longer than the limit: nothing is kept
    ReadError,  // opened, but a read failed
    Read,
};

// Reads at most `maxBytes` bytes; a longer file gives TooLong (nothing is kept). Only a regular
// file is read: a FIFO, device or directory gives CannotOpen at once instead of blocking or
// reading forever.
FileReadResult ReadWholeFile(const std::string& path, std::vector<uint8_t>& out, size_t maxBytes);

// Why `path` may not be replaced by a saved file: empty when it does not exist or is a regular
// file, else a short UTF-8 reason (a symbolic link, a FIFO, a device, a directory ...).
std::string ReplaceRefusal(const std::string& path);

// 0, or an errno value; `error` (when given) gets a short UTF-8 description of the failure.
// A target that exists and is not a regular file or a symbolic link (a device such as /dev/null,
// a FIFO, a directory) is never replaced: EEXIST. Temporary files that an earlier write of the
// same target left behind when its process was killed are removed first.
int WriteFileAtomically(const std::string& path, const uint8_t* data, size_t size,
                        std::string* error = nullptr);

} // namespace velmar
