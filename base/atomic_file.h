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

// Reads at most `maxBytes` bytes; a longer file gives kFileTooLong (nothing is kept).
int ReadWholeFile(const std::string& path, std::vector<uint8_t>& out, size_t maxBytes);

// 0, or an errno value; `error` (when given) gets a short UTF-8 description of the failure.
int WriteFileAtomically(const std::string& path, const uint8_t* data, size_t size,
                        std::string* error = nullptr);

} // namespace velmar
