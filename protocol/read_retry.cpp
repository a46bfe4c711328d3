// The slot-based entries to the lines' retry policies and reply checks.
#include "protocol/read_retry.h"

namespace velmar {

void SetReadRetries(int retries) {
    ForEachLine([retries](LineContext& line) { line.retry.SetRetries(retries); });
}

int ReadRetries() {
    return LineOf(0).retry.Retries(); // set with every other line, never alone
}

int ReadRetries(PortSlot slot) {
    return LineOf(slot).retry.Retries();
}

uint64_t RetriedRequests() {
    uint64_t sum = 0;
    ForEachLine([&sum](const LineContext& line) { sum += line.retry.Retried(); });
    return sum;
}

void ResetRetriedRequests() {
    ForEachLine([](LineContext& line) { line.retry.ResetRetried(); });
}

void CountRetriedRequest(PortSlot slot) {
    LineOf(slot).retry.CountRetried();
}

Trailer ReplyTrailer(PortSlot slot, int ctrl) {
    return LineOf(slot).replies.TrailerOf(ctrl);
}

bool NoteReplyPassed(PortSlot slot, int ctrl, const uint8_t* reply, size_t size) {
    return LineOf(slot).replies.NotePassed(ctrl, reply, size);
}

bool NoteTrailerNotChecksum(PortSlot slot, int ctrl) {
    return LineOf(slot).replies.NoteNotChecksum(ctrl);
}

bool RepliesConfirmedByRereading(PortSlot slot, int ctrl) {
    return ReplyTrailer(slot, ctrl) == Trailer::NotChecksum;
}

std::vector<int> ControllersConfirmedByRereading(PortSlot slot) {
    return LineOf(slot).replies.ConfirmedByRereading();
}

void ForgetReplyChecks() {
    ForEachLine([](LineContext& line) { line.replies.Forget(); });
}

int ReplyLatencyUs(PortSlot slot) {
    return LineOf(slot).replies.LatencyUs();
}

void NoteReplyLatency(PortSlot slot, int microseconds) {
    LineOf(slot).replies.NoteLatency(microseconds);
}

void NoteReplyPace(PortSlot slot, bool keptLineTime) {
    LineOf(slot).replies.NotePace(keptLineTime);
}

bool RepliesKeepLineTime(PortSlot slot) {
    return LineOf(slot).replies.KeepsLineTime();
}

void NoteReplyOwed(PortSlot slot, int64_t sentAtUs) {
    LineOf(slot).replies.NoteOwed(sentAtUs);
}

int64_t ReplyOwedSince(PortSlot slot) {
    return LineOf(slot).replies.OwedSinceUs();
}

bool ReplyOwedPossible(PortSlot slot) {
    return ReplyOwedSince(slot) != 0;
}

} // namespace velmar
