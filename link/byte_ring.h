// A 256-byte ring with one producer and one consumer, possibly on different threads (the caller
// thread and the converter pump). Each index has exactly one writer; the producer publishes
// bytes with a release store of the write index, the consumer frees them with a release store of
// the read index, so no lock is needed.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

namespace velmar {

class ByteRing {
  public:
    static constexpr unsigned kSize = 256;
    static constexpr unsigned kCapacity = kSize - 1; // one position stays empty: full != empty

    // Waiting bytes, 0..255. Exact for the calling side; the other side may only add to it
    // (consumer view) or take from it (producer view) meanwhile.
    unsigned Count() const {
        const uint16_t w = write_.load(std::memory_order_acquire);
        const uint16_t r = read_.load(std::memory_order_acquire);
        return Distance(r, w);
    }
    unsigned Free() const { return kCapacity - Count(); }

    // Producer: stores as many of `n` bytes as fit and returns that number; the rest is left to
    // the caller (to drop and count, or to leave where it came from).
    size_t Push(const uint8_t* src, size_t n) {
        const uint16_t w = write_.load(std::memory_order_relaxed);
        const uint16_t r = read_.load(std::memory_order_acquire);
        const size_t room = kCapacity - Distance(r, w);
        const size_t k = n < room ? n : room;
        for (size_t i = 0; i < k; ++i) bytes_[(w + i) % kSize] = src[i];
        write_.store(static_cast<uint16_t>((w + k) % kSize), std::memory_order_release);
        return k;
    }

    // Consumer: copies up to `n` waiting bytes to `dst` (when not null) and frees them.
    size_t Take(uint8_t* dst, size_t n) {
        const uint16_t r = read_.load(std::memory_order_relaxed);
        const uint16_t w = write_.load(std::memory_order_acquire);
        const size_t avail = Distance(r, w);
        const size_t k = n < avail ? n : avail;
        if (dst != nullptr) {
            for (size_t i = 0; i < k; ++i) dst[i] = bytes_[(r + i) % kSize];
        }
        read_.store(static_cast<uint16_t>((r + k) % kSize), std::memory_order_release);
        return k;
    }

    // Only while neither side uses the ring (open, close, or the pump paused).
    void Reset() {
        write_.store(0, std::memory_order_relaxed);
        read_.store(0, std::memory_order_relaxed);
    }
    // For tests: place both indices at `index` (0..255) to exercise the wrap.
    void ResetAt(uint16_t index) {
        write_.store(static_cast<uint16_t>(index % kSize), std::memory_order_relaxed);
        read_.store(static_cast<uint16_t>(index % kSize), std::memory_order_relaxed);
    }
    uint16_t WriteIndex() const { return write_.load(std::memory_order_acquire); }

  private:
    static unsigned Distance(uint16_t r, uint16_t w) { return (w + kSize - r) % kSize; }

    std::array<uint8_t, kSize> bytes_{};
    std::atomic<uint16_t> write_{0};
    std::atomic<uint16_t> read_{0};
};

} // namespace velmar
