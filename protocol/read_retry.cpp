// The slot-based entries to the lines' retry policies and reply checks.
#include "protocol/read_retry.h"

namespace velmar {

void SetReadRetries(PortSlot slot, int retries) {
    if (LineContext* line = LineOf(slot)) line->retry.SetRetries(retries);
}

int ReadRetries(PortSlot slot) {
    const LineContext* line = LineOf(slot);
    return line != nullptr ? line->retry.Retries() : kDefaultReadRetries;
}

uint64_t RetriedRequests(PortSlot slot) {
    const LineContext* line = LineOf(slot);
    return line != nullptr ? line->retry.Retried() : 0;
}

void CountRetriedRequest(PortSlot slot) {
    if (LineContext* line = LineOf(slot)) line->retry.CountRetried();
}

Trailer ReplyTrailer(PortSlot slot, int ctrl) {
    const LineContext* line = LineOf(slot);
    return line != nullptr ? line->replies.TrailerOf(ctrl) : Trailer::Unknown;
}

bool NoteReplyPassed(PortSlot slot, int ctrl, const uint8_t* reply, size_t size) {
    LineContext* line = LineOf(slot);
    return line != nullptr && line->replies.NotePassed(ctrl, reply, size);
}

bool NoteTrailerNotChecksum(PortSlot slot, int ctrl) {
    LineContext* line = LineOf(slot);
    return line != nullptr && line->replies.NoteNotChecksum(ctrl);
}

bool RepliesConfirmedByRereading(PortSlot slot, int ctrl) {
    return ReplyTrailer(slot, ctrl) == Trailer::NotChecksum;
}

std::vector<int> ControllersConfirmedByRereading(PortSlot slot) {
    const LineContext* line = LineOf(slot);
    return line != nullptr ? line->replies.ConfirmedByRereading() : std::vector<int>{};
}

int ReplyLatencyUs(PortSlot slot) {
    const LineContext* line = LineOf(slot);
    return line != nullptr ? line->replies.LatencyUs() : 0;
}

void NoteReplyLatency(PortSlot slot, int microseconds) {
    if (LineContext* line = LineOf(slot)) line->replies.NoteLatency(microseconds);
}

void NoteReplyPace(PortSlot slot, bool keptLineTime) {
    if (LineContext* line = LineOf(slot)) line->replies.NotePace(keptLineTime);
}

bool RepliesKeepLineTime(PortSlot slot) {
    const LineContext* line = LineOf(slot);
    return line != nullptr && line->replies.KeepsLineTime();
}

void NoteReplyOwed(PortSlot slot, int64_t sentAtUs) {
    if (LineContext* line = LineOf(slot)) line->replies.NoteOwed(sentAtUs);
}

int64_t ReplyOwedSince(PortSlot slot) {
    const LineContext* line = LineOf(slot);
    return line != nullptr ? line->replies.OwedSinceUs() : 0;
}

bool ReplyOwedPossible(PortSlot slot) {
    return ReplyOwedSince(slot) != 0;
}

} // namespace velmar
