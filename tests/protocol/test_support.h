// Shared set-up for the protocol tests: the port layer with its log in a temporary place, and
// frame helpers.
#pragma once

#include "link/serial_port.h"
#include "protocol/ctrlr_protocol.h"
#include "protocol/timeouts.h"

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace velmar::test {

// `bytes` followed by their ChecksumRot8.
inline std::vector<uint8_t> WithSum(std::vector<uint8_t> bytes) {
    bytes.push_back(ChecksumRot8(bytes.data(), bytes.size()));
    return bytes;
}

inline std::vector<uint8_t> Bytes(const uint8_t* p, size_t n) {
    return {p, p + n};
}

inline void StartLayerWithTempLog() {
    static const std::string dir = [] {
        char tmpl[] = "/tmp/velmar-proto-XXXXXX";
        const char* made = mkdtemp(tmpl);
        return std::string(made != nullptr ? made : "/tmp");
    }();
    SetExchangeLogPath((dir + "/port.out").c_str());
    StartPortLayer();
}

inline double MsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

} // namespace velmar::test
