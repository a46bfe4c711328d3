// The replies a line still owes: every request that went out and whose whole reply has not come
// is owed one, whatever ended its wait (nothing, a short, overlong or garbled reply, one set
// aside as too early). Replies carry no address, so whose a reply is follows from the order of
// the requests alone: the line answers in order, and a whole reply is the earliest owed one's.
//
// A reply is taken only while every owed one asks for the same bytes (an attempt of the same
// request); before anything else goes out the line is listened to until each owed reply came or
// the longest a reply was seen to take has passed (owed_wait.h). A reply that never came on a
// line where no request was ever answered before the next one went out may have been held back
// (a device server that passes replies on only when the tool sends again). Only the last
// request's can be so held (each sending lets the ones before go): it is kept as a doubt, and
// the first reply of its length that comes after it is passed over.
//
// Kept in the line's context (line_context.h) and used by the thread that runs the exchanges.
#pragma once

#include <cstdint>
#include <deque>

namespace velmar {

// What a request asked for: replies to requests with equal keys carry the same bytes.
struct RequestKey {
    int ctrl = -1;
    uint8_t cmd = 0;
    uint32_t address = 0;
    int count = 0;
    bool read = false; // a read; a write's status block answers only its own sending
    bool operator==(const RequestKey&) const = default;
};

class OwedReplies {
  public:
    struct Entry {
        int64_t sentUs = 0; // steady clock, when the request went out
        RequestKey key;
        int want = 0;   // bytes of its whole reply
        int waitMs = 0; // how long it was waited for
    };

    void Add(const Entry& e) { owed_.push_back(e); }
    bool Empty() const { return owed_.empty(); }
    int Count() const { return static_cast<int>(owed_.size()); }
    const Entry& Front() const { return owed_.front(); }
    // A whole reply came: the earliest owed request's.
    Entry TakeFront();
    // The earliest owed reply is no longer awaited; the last request's, on a line never seen
    // to answer in time, becomes the doubt: it may come once the tool sends again.
    void GiveUpFront();

    // A request was answered, with a reply that passed its checks, before anything else went
    // out and with nothing else owed: replies are not held back, and no doubt stands.
    void NoteAnsweredInTime() {
        answeredInTime_ = true;
        doubts_.clear();
    }
    bool AnsweredInTime() const { return answeredInTime_; }
    int Doubts() const { return static_cast<int>(doubts_.size()); }
    // A reply of `length` bytes came: true when it may be a held-back one (a doubt of that
    // length), which it is then taken for.
    bool SpendDoubt(int length);
    // The longest a reply was taken to need, from the request it is the reply to.
    int SlowestUs() const { return slowestUs_; }
    void NoteDelay(int us) {
        if (us > slowestUs_) slowestUs_ = us;
    }

  private:
    std::deque<Entry> owed_;
    bool answeredInTime_ = false;
    std::deque<int> doubts_; // the lengths of the replies that may be held back
    int slowestUs_ = 0;
};

} // namespace velmar
