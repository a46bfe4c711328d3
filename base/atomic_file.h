// Whole-file reading with a size limit and atomic whole-file writing: the data go to a temporary
// file in the same directory, which replaces the target only when it was written completely,
// so a failure never leaves a half-written or emptied file behind.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace velmar {

// Results of ReadWholeFile.
inline constexpr int kFileOk = 0;
inline constexpr int kFileCannotOpen = -1;
inline constexpr int kFileTooLong = -2;
inline constexpr int kFileReadError = -3;

// Reads at most `maxBytes` bytes; a longer file gives kFileTooLong (nothing is kept). Only a
// regular file is read: a FIFO, device or directory gives kFileCannotOpen at once instead of
// blocking or reading forever.
int ReadWholeFile(const std::string& path, std::vector<uint8_t>& out, size_t maxBytes);

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
