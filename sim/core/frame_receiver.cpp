#include "sim/core/frame_receiver.h"

#include "sim/core/bus_simulator.h"

namespace velmar::sim {

namespace {

constexpr uint8_t kFrameStart = 0x60;
constexpr uint8_t kIdentCode = 0x00;
constexpr uint8_t kIdentFollowByte = 0x31;
constexpr uint8_t kPollCode = 0x21;
constexpr size_t kCommandFrameSize = 4;
constexpr size_t kHeaderSize = 8;
constexpr int kMaxWriteCount = 64; // the controller's receive buffer

bool IsReadCode(uint8_t code) {
    return code >= 0x48 && code <= 0x4F;
}
bool IsWriteCode(uint8_t code) {
    return code >= 0x40 && code <= 0x47;
}

} // namespace

void FrameReceiver::Feed(uint8_t byte, SimClock::time_point t, std::vector<Request>& out) {
    if (!Idle() && t - lastByte_ > kFrameGap) Reset();
    lastByte_ = t;
    pending_.push_back(byte);
    Process(out);
}

void FrameReceiver::Reset() {
    expect_ = Expect::Command;
    pending_.clear();
}

void FrameReceiver::Expire(SimClock::time_point now) {
    if (!Idle() && now - lastByte_ > kFrameGap) Reset();
}

bool FrameReceiver::TakeHeader(Request& req) {
    const uint8_t* h = pending_.data();
    if (h[0] != 0x01 || h[1] != 0x00 || SimChecksum(h, 7) != h[7]) return false;
    req.address = static_cast<uint32_t>(h[4]) | static_cast<uint32_t>(h[2]) << 8 |
                  static_cast<uint32_t>(h[3]) << 16;
    req.count = h[6];
    req.data.clear();
    if (req.kind == RequestKind::Write) req.data.push_back(h[5]);
    pending_.erase(pending_.begin(), pending_.begin() + kHeaderSize);
    return true;
}

// Consumes as many complete frames as the pending bytes hold. A frame that fails validation
// leaves its bytes pending and sends the receiver back to hunting for a command frame, so a new
// transaction that follows an abandoned one is still recognised.
void FrameReceiver::Process(std::vector<Request>& out) {
    for (;;) {
        switch (expect_) {
        case Expect::Command: {
            size_t skip = 0;
            while (skip < pending_.size() && pending_[skip] != kFrameStart) ++skip;
            pending_.erase(pending_.begin(), pending_.begin() + static_cast<long>(skip));
            if (pending_.size() < kCommandFrameSize) return;
            if (SimChecksum(pending_.data(), 3) != pending_[3]) {
                pending_.erase(pending_.begin());
                continue;
            }
            ++commandFrames_;
            current_ = Request{};
            current_.lineAddress = pending_[1];
            current_.code = pending_[2];
            pending_.erase(pending_.begin(), pending_.begin() + kCommandFrameSize);
            if (current_.code == kPollCode) {
                current_.kind = RequestKind::Poll;
                out.push_back(current_);
            } else if (current_.code == kIdentCode) {
                current_.kind = RequestKind::Ident;
                expect_ = Expect::IdentByte;
            } else if (IsReadCode(current_.code)) {
                current_.kind = RequestKind::Read;
                expect_ = Expect::ReadHeader;
            } else if (IsWriteCode(current_.code)) {
                current_.kind = RequestKind::Write;
                expect_ = Expect::WriteHeader;
            }
            // Unknown codes carry nothing after the frame; they are not answered.
            continue;
        }
        case Expect::IdentByte:
            if (pending_.empty()) return;
            expect_ = Expect::Command;
            if (pending_[0] == kIdentFollowByte) {
                pending_.erase(pending_.begin());
                out.push_back(current_);
            }
            continue;
        case Expect::ReadHeader:
            if (pending_.size() < kHeaderSize) return;
            expect_ = Expect::Command;
            if (TakeHeader(current_)) out.push_back(current_);
            continue;
        case Expect::WriteHeader:
            if (pending_.size() < kHeaderSize) return;
            expect_ = Expect::Command;
            if (!TakeHeader(current_)) continue;
            if (current_.count <= 1) {
                out.push_back(current_); // n = 1: the byte came in the header; n = 0 is refused
            } else if (current_.count <= kMaxWriteCount) {
                expect_ = Expect::WriteData;
            }
            // n > 64 does not fit the controller's buffer: the header is dropped and its data
            // frame will be hunted through as garbage.
            continue;
        case Expect::WriteData: {
            const size_t frame = static_cast<size_t>(current_.count); // n - 1 data + checksum
            if (pending_.size() < frame) return;
            expect_ = Expect::Command;
            if (SimChecksum(pending_.data(), frame - 1) != pending_[frame - 1]) continue;
            current_.data.insert(current_.data.end(), pending_.begin(),
                                 pending_.begin() + static_cast<long>(frame - 1));
            pending_.erase(pending_.begin(), pending_.begin() + static_cast<long>(frame));
            out.push_back(current_);
            continue;
        }
        }
    }
}

} // namespace velmar::sim
