// Shared helpers of the fuzz targets.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>

namespace velmar::fuzz {

// A file of this process for the input; the same path for every run. In memory-backed /dev/shm
// when there is one: the targets write a file per run. Removed when the process ends.
inline const std::string& InputPath(const char* name) {
    static const std::string path = [name] {
        const char* dir = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        return std::string(dir) + "/velmar-fuzz-" + std::to_string(::getpid()) + "-" + name;
    }();
    static const struct Remover {
        ~Remover() { std::remove(path.c_str()); }
    } remover;
    return path;
}

inline bool WriteInput(const std::string& path, const uint8_t* data, size_t size) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    const bool ok = size == 0 || std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}

// Stops the run with a report the fuzzer records as a crash.
[[noreturn]] inline void Broken(const char* what) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    __builtin_trap();
}

} // namespace velmar::fuzz
