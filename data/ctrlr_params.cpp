#include "data/ctrlr_params.h"

#include "protocol/ctrlr_protocol.h"

#include <algorithm>
#include <cstring>

namespace velmar {

void CtrlrParams::Assign(const uint8_t* bytes, int length) {
    SetLength(length);
    if (length_ > 0) std::memcpy(data(), bytes, static_cast<size_t>(length_));
}

void CtrlrParams::SetLength(int length) {
    length_ = std::clamp(length, 0, params::kAreaLength - 1);
}

uint8_t CtrlrParams::Ksm() const {
    return length_ > 0 ? Bytes()[static_cast<size_t>(length_ - 1)] : 0;
}

uint8_t CtrlrParams::ComputeKsm() const {
    return length_ > 0 ? ChecksumRot8(data(), static_cast<size_t>(length_ - 1)) : 0;
}

void CtrlrParams::UpdateKsm() {
    if (length_ > 0) Bytes()[static_cast<size_t>(length_ - 1)] = ComputeKsm();
}

bool CtrlrParams::SameBlock(const CtrlrParams& other) const {
    return length_ == other.length_ && std::equal(data(), data() + length_, other.data());
}

} // namespace velmar
