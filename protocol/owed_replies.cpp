#include "protocol/owed_replies.h"

namespace velmar {

OwedReplies::Entry OwedReplies::TakeFront() {
    const Entry e = owed_.front();
    owed_.pop_front();
    return e;
}

void OwedReplies::GiveUpFront() {
    // Every request sent after it would have let a held reply go: only the last can be held.
    if (!answeredInTime_ && owed_.size() == 1) doubts_.assign(1, owed_.front().want);
    owed_.pop_front();
}

bool OwedReplies::SpendDoubt(int length) {
    for (auto it = doubts_.begin(); it != doubts_.end(); ++it) {
        if (*it != length) continue;
        doubts_.erase(it);
        return true;
    }
    return false;
}

} // namespace velmar
