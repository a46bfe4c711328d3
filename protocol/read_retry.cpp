#include "protocol/read_retry.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <map>
#include <mutex>

namespace velmar {
namespace {

std::atomic<int> readRetries{kDefaultReadRetries};
std::atomic<uint64_t> retriedRequests{0};

struct CheckState {
    Trailer trailer = Trailer::Unknown;
    std::vector<std::vector<uint8_t>> passes; // distinct passing replies, while Unknown
};
std::mutex checkMutex;
std::map<std::pair<PortSlot, int>, CheckState> checkStates;

// Caller holds checkMutex.
CheckState& StateFor(PortSlot slot, int ctrl) {
    return checkStates[{slot, ctrl & 0xFF}];
}

std::array<std::atomic<int>, kPortSlotCount + 1> latencyUs{};
// Per slot: 0 nothing known, 1 replies keep the line time, 2 a reply came sooner (sticky).
constexpr int kPaceUnknown = 0, kPaceKept = 1, kPaceFaster = 2;
std::array<std::atomic<int>, kPortSlotCount + 1> replyPace{};
std::array<std::atomic<int64_t>, kPortSlotCount + 1> replyOwed{};

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

Trailer ReplyTrailer(PortSlot slot, int ctrl) {
    std::lock_guard lock(checkMutex);
    return StateFor(slot, ctrl).trailer;
}

bool NoteReplyPassed(PortSlot slot, int ctrl, const uint8_t* reply, size_t size) {
    std::lock_guard lock(checkMutex);
    CheckState& s = StateFor(slot, ctrl);
    if (s.trailer != Trailer::Unknown) return s.trailer == Trailer::Checksum;
    std::vector<uint8_t> bytes(reply, reply + size);
    if (std::find(s.passes.begin(), s.passes.end(), bytes) == s.passes.end())
        s.passes.push_back(std::move(bytes));
    if (static_cast<int>(s.passes.size()) < kPassesToKnowChecksum) return false;
    s.trailer = Trailer::Checksum;
    s.passes.clear();
    return true;
}

bool NoteTrailerNotChecksum(PortSlot slot, int ctrl) {
    std::lock_guard lock(checkMutex);
    CheckState& s = StateFor(slot, ctrl);
    if (s.trailer == Trailer::NotChecksum) return false;
    s.trailer = Trailer::NotChecksum;
    s.passes.clear();
    return true;
}

bool RepliesConfirmedByRereading(PortSlot slot, int ctrl) {
    return ReplyTrailer(slot, ctrl) == Trailer::NotChecksum;
}

std::vector<int> ControllersConfirmedByRereading(PortSlot slot) {
    std::lock_guard lock(checkMutex);
    std::vector<int> numbers;
    for (const auto& [key, state] : checkStates)
        if (key.first == slot && state.trailer == Trailer::NotChecksum)
            numbers.push_back(key.second);
    return numbers;
}

void ForgetReplyChecks() {
    {
        std::lock_guard lock(checkMutex);
        checkStates.clear();
    }
    for (auto& l : latencyUs) l = 0;
    for (auto& p : replyPace) p = kPaceUnknown;
    for (auto& o : replyOwed) o = 0;
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

void NoteReplyPace(PortSlot slot, bool keptLineTime) {
    if (slot >= replyPace.size()) return;
    if (!keptLineTime) {
        replyPace[slot] = kPaceFaster;
        return;
    }
    int expected = kPaceUnknown;
    replyPace[slot].compare_exchange_strong(expected, kPaceKept);
}

void NoteReplyOwed(PortSlot slot, int64_t sentAtUs) {
    if (slot < replyOwed.size()) replyOwed[slot] = sentAtUs;
}

int64_t ReplyOwedSince(PortSlot slot) {
    return slot < replyOwed.size() ? replyOwed[slot].load() : 0;
}

bool ReplyOwedPossible(PortSlot slot) {
    return ReplyOwedSince(slot) != 0;
}

bool RepliesKeepLineTime(PortSlot slot) {
    return slot < replyPace.size() && replyPace[slot] == kPaceKept;
}

} // namespace velmar
