// SHA-256 of a byte string, for the checksums in backup manifests that a script can compare
// with sha256sum.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace velmar {

// 64 lower-case hexadecimal digits.
std::string Sha256Hex(const uint8_t* data, size_t size);

} // namespace velmar
