// The records of a whole controller in one buffer, in the order of the demo image without its
// 7-byte header: what the factory-defaults builder fills and the parameter report reads.
#pragma once

#include "data/memory_map.h"
#include "data/records.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <span>

namespace velmar {

class DeviceBuffer {
  public:
    static constexpr int kParamsOffset = 0;
    static constexpr int kSettsOffset = 58;
    static constexpr int kSideStateOffset = 362; // side A, then side B
    static constexpr int kMakeOffset = 386;
    static constexpr int kRegsOffset = 514;
    static constexpr int kLength = 1618;
    // The demo image file: a sizes header, then this buffer.
    static constexpr int kDemoHeaderLength = len::kSizes;

    static constexpr int SettsOffset(int n) { return kSettsOffset + setts::kLength * n; }
    static constexpr int SideStateOffset(int s) { return kSideStateOffset + side::kLength * s; }
    static constexpr int RegsOffset(int n) { return kRegsOffset + regs::kLength * n; }

    std::array<uint8_t, kLength> bytes{};

    uint8_t* data() { return bytes.data(); }
    const uint8_t* data() const { return bytes.data(); }

    CtrlrParams Params() const { return CtrlrParams(bytes.data(), params::kUsualLength); }
    void SetParams(const CtrlrParams& p) { Put(kParamsOffset, p.data(), params::kUsualLength); }
    ChannelSetts Setts(int n) const { return Get<ChannelSetts>(SettsOffset(n)); }
    void SetSetts(int n, const ChannelSetts& r) { Put(SettsOffset(n), r.data(), r.size()); }
    SideState Side(int s) const { return Get<SideState>(SideStateOffset(s)); }
    MakeBlock Make() const { return Get<MakeBlock>(kMakeOffset); }
    void SetMake(const MakeBlock& r) { Put(kMakeOffset, r.data(), r.size()); }
    ChannelRegs Regs(int n) const { return Get<ChannelRegs>(RegsOffset(n)); }
    void SetRegs(int n, const ChannelRegs& r) { Put(RegsOffset(n), r.data(), r.size()); }

    bool operator==(const DeviceBuffer&) const = default;

  private:
    template <class R> R Get(int offset) const {
        return R(std::span<const uint8_t>(bytes.data() + offset, R::kSize));
    }
    void Put(int offset, const uint8_t* src, size_t count) {
        std::memcpy(bytes.data() + offset, src, count);
    }
};

static_assert(DeviceBuffer::RegsOffset(kChannelCount) == DeviceBuffer::kLength);
static_assert(DeviceBuffer::SettsOffset(kChannelCount) == DeviceBuffer::kSideStateOffset);

} // namespace velmar
