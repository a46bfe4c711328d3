// Typed little-endian access to controller records. A record is its bytes: every field is read
// from and written into the byte array at a fixed offset, so bytes the program does not know are
// written back exactly as they were read.
#pragma once

#include "base/byte_order.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace velmar {

// One field of a record: `count` elements of `width` bytes (1, 2 or 4) from `offset`.
struct Field {
    const char* name;
    int offset;
    int width;
    bool isSigned = false;
    int count = 1;

    constexpr int End() const { return offset + width * count; }
    constexpr int ElementOffset(int index) const { return offset + width * index; }
};

// A record of N bytes held by value.
template <size_t N> class RecordBytes {
  public:
    static constexpr size_t kSize = N;

    RecordBytes() : bytes_{} {}
    // Copies min(N, src.size()) bytes; the rest stays 0.
    explicit RecordBytes(std::span<const uint8_t> src) : bytes_{} { Assign(src); }

    void Assign(std::span<const uint8_t> src) {
        std::copy_n(src.begin(), std::min(src.size(), N), bytes_.begin());
    }

    uint8_t* data() { return bytes_.data(); }
    const uint8_t* data() const { return bytes_.data(); }
    static constexpr size_t size() { return N; }
    std::array<uint8_t, N>& Bytes() { return bytes_; }
    const std::array<uint8_t, N>& Bytes() const { return bytes_; }
    std::span<const uint8_t> View() const { return {bytes_.data(), N}; }

    // Raw access by offset and width (1, 2 or 4 bytes).
    uint32_t Get(int offset, int width) const { return GetLE(bytes_.data() + offset, width); }
    void Set(int offset, int width, uint32_t v) { SetLE(bytes_.data() + offset, width, v); }

    // Field access; `index` selects an element of an array field.
    uint32_t Get(const Field& f, int index = 0) const {
        return Get(f.ElementOffset(index), f.width);
    }
    int32_t GetSigned(const Field& f, int index = 0) const {
        return SignExtend(Get(f, index), f.width);
    }
    void Set(const Field& f, uint32_t v, int index = 0) { Set(f.ElementOffset(index), f.width, v); }
    void Set(const Field& f, int v, int index = 0) { Set(f, static_cast<uint32_t>(v), index); }

    bool operator==(const RecordBytes&) const = default;

  private:
    std::array<uint8_t, N> bytes_;
};

} // namespace velmar

// Declares `Type Name() const` and `void SetName(Type)` for a scalar field constant `F`.
#define VELMAR_FIELD_ACCESSORS(Type, Name, F)                                                      \
    Type Name() const {                                                                            \
        return static_cast<Type>(this->Get(F));                                                    \
    }                                                                                              \
    void Set##Name(Type v) {                                                                       \
        this->Set(F, static_cast<uint32_t>(v));                                                    \
    }

// The same for an array field: `Type Name(int i) const`, `void SetName(int i, Type)`.
#define VELMAR_ARRAY_ACCESSORS(Type, Name, F)                                                      \
    Type Name(int i) const {                                                                       \
        return static_cast<Type>(this->Get(F, i));                                                 \
    }                                                                                              \
    void Set##Name(int i, Type v) {                                                                \
        this->Set(F, static_cast<uint32_t>(v), i);                                                 \
    }

// Signed fields are stored in two's complement.
#define VELMAR_SIGNED_ACCESSORS(Type, Name, F)                                                     \
    Type Name() const {                                                                            \
        return static_cast<Type>(this->GetSigned(F));                                              \
    }                                                                                              \
    void Set##Name(Type v) {                                                                       \
        this->Set(F, static_cast<uint32_t>(static_cast<int32_t>(v)));                              \
    }
