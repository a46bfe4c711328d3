#include "protocol/read_retry.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <mutex>

namespace velmar {
namespace {

std::atomic<int> readRetries{kDefaultReadRetries};
std::atomic<uint64_t> retriedRequests{0};

struct CheckState {
    PortSlot slot = 0;
    int ctrl = -1;
    int uncheckedStreak = 0;
    int passStreak = 0;
    bool off = false;
};
std::mutex checkMutex;
CheckState checkState;

// Caller holds checkMutex. The state belongs to one controller on one slot.
CheckState& StateFor(PortSlot slot, int ctrl) {
    if (checkState.slot != slot || checkState.ctrl != (ctrl & 0xFF)) {
        checkState = CheckState{};
        checkState.slot = slot;
        checkState.ctrl = ctrl & 0xFF;
    }
    return checkState;
}

std::array<std::atomic<int>, kPortSlotCount + 1> latencyUs{};

} // namespace

void SetReadRetries(int retries) {
    readRetries = std::clamp(retries, 0, kMaxReadRetries);
}

int ReadRetries() {
    return readRetries;
}

uint64_t RetriedRequests() {
    return retriedRequests;
}

void ResetRetriedRequests() {
    retriedRequests = 0;
}

void CountRetriedRequest() {
    ++retriedRequests;
}

bool ReplyCheckOn(PortSlot slot, int ctrl) {
    std::lock_guard lock(checkMutex);
    return !StateFor(slot, ctrl).off;
}

void NoteReplyChecked(PortSlot slot, int ctrl) {
    std::lock_guard lock(checkMutex);
    CheckState& s = StateFor(slot, ctrl);
    s.uncheckedStreak = 0;
    if (s.passStreak < kPassesToKnowChecksum) ++s.passStreak;
}

bool ChecksumKnown(PortSlot slot, int ctrl) {
    std::lock_guard lock(checkMutex);
    return StateFor(slot, ctrl).passStreak >= kPassesToKnowChecksum;
}

bool NoteReplyRepeatedUnchecked(PortSlot slot, int ctrl) {
    std::lock_guard lock(checkMutex);
    CheckState& s = StateFor(slot, ctrl);
    if (s.passStreak < kPassesToKnowChecksum) s.passStreak = 0;
    if (s.off) return false;
    s.off = ++s.uncheckedStreak >= kUncheckedStreakLimit;
    return s.off;
}

void ForgetReplyChecks() {
    {
        std::lock_guard lock(checkMutex);
        checkState = CheckState{};
    }
    for (auto& l : latencyUs) l = 0;
}

int ReplyLatencyUs(PortSlot slot) {
    return slot < latencyUs.size() ? latencyUs[slot].load() : 0;
}

void NoteReplyLatency(PortSlot slot, int microseconds) {
    if (slot >= latencyUs.size()) return;
    // A slower reply counts at once; faster ones pull the figure down only slowly, so that one
    // early outlier (the first exchange after opening a port) does not set it for good, and a
    // controller that is sometimes slow keeps a figure near its slow replies.
    int seen = latencyUs[slot];
    for (;;) {
        const int next = microseconds >= seen ? microseconds : seen - (seen - microseconds) / 32;
        if (latencyUs[slot].compare_exchange_weak(seen, next)) return;
    }
}

} // namespace velmar
