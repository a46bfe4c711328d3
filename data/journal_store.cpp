#include "data/journal_store.h"

#include <algorithm>

namespace velmar {

JournalStore::JournalStore(RecordStore& inner, std::string journalPath, JournalContext context)
    : inner_(inner), path_(std::move(journalPath)), context_(std::move(context)) {
    PullSizes();
}

bool JournalStore::Ready(std::string& error) {
    if (path_.empty()) return true;
    if (journal_ == nullptr) journal_ = Journal::Open(path_, error);
    return journal_ != nullptr && journal_->CheckWritable(error);
}

bool JournalStore::Record(std::vector<JournalEntry>& entries, std::string& error) {
    if (path_.empty()) return true;
    if (journal_ == nullptr && !Ready(error)) return false;
    return journal_->Append(entries, error);
}

StoreResult JournalStore::Read(int address, int length, uint8_t* dst, uint8_t space) {
    PushSizes();
    const StoreResult rc = inner_.Read(address, length, dst, space);
    PullSizes();
    // The self-sized read of the parameter block through its length byte gives the block that
    // writes then send to its own address.
    const int key = address == addr::kParamsLength && length <= 0 ? addr::kParams : address;
    if (rc.Length() > 0 && !path_.empty()) reads_[{space, key}].assign(dst, dst + rc.Length());
    return rc;
}

StoreResult JournalStore::Write(int address, int length, const uint8_t* data, uint8_t space) {
    error_.clear();
    if (path_.empty() || inner_.IsDemo() || !IsJournaledWrite(address, space) || length <= 0) {
        PushSizes();
        const StoreResult rc = inner_.Write(address, length, data, space);
        PullSizes();
        return rc;
    }
    if (!Ready(error_)) return StoreResult::Failed(StoreCode::Refused);
    // The old bytes: the copy read, else one read now.
    std::vector<uint8_t> old;
    bool known = false;
    if (auto it = reads_.find({space, address});
        it != reads_.end() && static_cast<int>(it->second.size()) >= length) {
        old.assign(it->second.begin(), it->second.begin() + length);
        known = true;
    } else {
        old.resize(static_cast<size_t>(length));
        PushSizes();
        known = inner_.Read(address, length, old.data(), space).Gave(length);
        PullSizes();
    }
    PushSizes();
    const StoreResult rc = inner_.Write(address, length, data, space);
    PullSizes();
    std::vector<JournalEntry> entries =
        RecordChangeEntries(context_, address, space, known ? old.data() : nullptr, length, data,
                            length, Sizes(), rc.Ok() ? kOutcomeWritten : kOutcomeRefused);
    if (!journal_->Append(entries, error_)) return StoreResult::Failed(StoreCode::Refused);
    if (rc.Ok()) {
        auto& held = reads_[{space, address}];
        if (static_cast<int>(held.size()) < length) held.resize(static_cast<size_t>(length));
        std::copy(data, data + length, held.begin());
    }
    return rc;
}

StoreResult JournalStore::Restart() {
    PushSizes();
    const StoreResult rc = inner_.Restart();
    PullSizes();
    return rc;
}

StoreResult JournalStore::AwaitAnswer() {
    return inner_.AwaitAnswer();
}

StoreResult JournalStore::ReadSizes() {
    PushSizes();
    const StoreResult rc = inner_.ReadSizes();
    PullSizes();
    return rc;
}

void JournalStore::FollowAddress(int ctrlrAddress) {
    inner_.FollowAddress(ctrlrAddress);
    context_.ctrlr = ctrlrAddress;
}

} // namespace velmar
