#include "protocol/reply_checks.h"

#include "protocol/read_retry.h"

#include <algorithm>

namespace velmar {

Trailer ReplyChecks::TrailerOf(int ctrl) const {
    const auto it = controllers_.find(ctrl & 0xFF);
    return it != controllers_.end() ? it->second.trailer : Trailer::Unknown;
}

bool ReplyChecks::NotePassed(int ctrl, const uint8_t* reply, size_t size) {
    Controller& c = controllers_[ctrl & 0xFF];
    if (c.trailer != Trailer::Unknown) return c.trailer == Trailer::Checksum;
    std::vector<uint8_t> bytes(reply, reply + size);
    if (std::find(c.passes.begin(), c.passes.end(), bytes) == c.passes.end())
        c.passes.push_back(std::move(bytes));
    if (static_cast<int>(c.passes.size()) < kPassesToKnowChecksum) return false;
    c.trailer = Trailer::Checksum;
    c.passes.clear();
    return true;
}

bool ReplyChecks::NoteNotChecksum(int ctrl) {
    Controller& c = controllers_[ctrl & 0xFF];
    if (c.trailer == Trailer::NotChecksum) return false;
    c.trailer = Trailer::NotChecksum;
    c.passes.clear();
    return true;
}

std::vector<int> ReplyChecks::ConfirmedByRereading() const {
    std::vector<int> numbers;
    for (const auto& [number, c] : controllers_)
        if (c.trailer == Trailer::NotChecksum) numbers.push_back(number);
    return numbers;
}

void ReplyChecks::NoteLatency(int microseconds) {
    // A slower reply counts at once; faster ones pull the figure down only slowly, so that one
    // early outlier (the first exchange after opening a port) does not set it for good, and a
    // controller that is sometimes slow keeps a figure near its slow replies.
    const int seen = latencyUs_;
    latencyUs_ = microseconds >= seen ? microseconds : seen - (seen - microseconds) / 32;
}

void ReplyChecks::NotePace(bool keptLineTime) {
    if (!keptLineTime)
        pace_ = kPaceFaster;
    else if (pace_ == kPaceUnknown)
        pace_ = kPaceKept;
}

} // namespace velmar
