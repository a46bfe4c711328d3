#include "data/journal_store.h"

#include <algorithm>
#include <filesystem>

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
    if (rc.Length() > 0 && !path_.empty()) {
        reads_[{space, key}].assign(dst, dst + rc.Length());
        if (!inner_.IsDemo() && IsJournaledWrite(key, space)) Settle(space, key, dst, rc.Length());
    }
    return rc;
}

bool JournalStore::BeforeWrite(int address, int length, const uint8_t* data, uint8_t space) {
    current_ = {};
    tracking_ = false;
    if (path_.empty() || inner_.IsDemo() || !IsJournaledWrite(address, space) || length <= 0)
        return true;
    std::string why;
    if (journal_ == nullptr) journal_ = Journal::Open(path_, why);
    if (journal_ == nullptr) {
        if (error_.empty()) error_ = why;
        return false;
    }
    current_.ctrlr = context_.ctrlr;
    current_.port = context_.port;
    current_.ident = context_.ident;
    current_.space = space;
    current_.address = address;
    current_.newBytes.assign(data, data + length);
    // The old bytes: the copy read, else unknown.
    if (auto it = reads_.find({space, address});
        it != reads_.end() && static_cast<int>(it->second.size()) >= length)
        current_.oldBytes.assign(it->second.begin(), it->second.begin() + length);
    std::vector<JournalEntry> entries = RecordChangeEntries(
        context_, address, space, current_.oldBytes.empty() ? nullptr : current_.oldBytes.data(),
        length, data, length, Sizes(), kOutcomeUnknown);
    if (!journal_->AppendPending(entries, current_, why)) {
        if (error_.empty()) error_ = why;
        current_ = {};
        return false;
    }
    tracking_ = true;
    return true;
}

void JournalStore::AfterWrite(StoreResult result) {
    if (!tracking_) return;
    tracking_ = false;
    if (result.Ok()) {
        auto& held = reads_[{current_.space, current_.address}];
        if (held.size() < current_.newBytes.size()) held.resize(current_.newBytes.size());
        std::copy(current_.newBytes.begin(), current_.newBytes.end(), held.begin());
    } else {
        // What the controller holds there is no longer known for sure.
        reads_.erase({current_.space, current_.address});
    }
    // A write without an answer may have gone in, wholly or in part: it stays unknown until a
    // read of its record settles it. Only a write that never left is not written.
    const char* outcome = result.Ok()                            ? kOutcomeWritten
                          : result.Code() == StoreCode::NoAnswer ? nullptr
                                                                 : kOutcomeNotWritten;
    std::string why;
    if (outcome != nullptr && !journal_->AppendOutcome(current_, outcome, kOutcomeByAnswer, why)) {
        incomplete_ = std::string(result.Ok() ? "Запись в контроллер произведена"
                                              : "Запись в контроллер не произведена") +
                      ", но ее исход не внесен в журнал изменений: журнал неполон, запись "
                      "значится в нем с исходом «" +
                      kOutcomeUnknown + "» (" + why + ")";
    }
    current_ = {};
}

StoreResult JournalStore::Write(int address, int length, const uint8_t* data, uint8_t space) {
    if (!BeforeWrite(address, length, data, space)) return StoreResult::Failed(StoreCode::Refused);
    PushSizes();
    const StoreResult rc = inner_.Write(address, length, data, space);
    PullSizes();
    AfterWrite(rc);
    return rc;
}

void JournalStore::Settle(uint8_t space, int address, const uint8_t* bytes, int length) {
    std::string why;
    if (journal_ == nullptr) {
        // A read opens no journal that is not there, and tries a broken one once.
        if (settleOff_ || !std::filesystem::exists(path_)) return;
        journal_ = Journal::Open(path_, why);
        if (journal_ == nullptr) {
            settleOff_ = true;
            return;
        }
    }
    JournalWrite last;
    if (!journal_->LastWriteAt(context_.ctrlr, context_.port, space, address, last, why) ||
        !last.outcome.empty())
        return;
    // Another controller once had this number on this port: not its write to settle.
    if (!context_.ident.empty() && !last.ident.empty() && last.ident != context_.ident) return;
    const auto n = last.newBytes.size();
    if (static_cast<size_t>(length) < n) return;
    const char* outcome = nullptr;
    if (std::equal(last.newBytes.begin(), last.newBytes.end(), bytes))
        outcome = kOutcomeWritten;
    else if (last.oldBytes.size() == n &&
             std::equal(last.oldBytes.begin(), last.oldBytes.end(), bytes))
        outcome = kOutcomeNotWritten;
    // Neither: changed since by another hand or by the controller itself; it stays unknown.
    if (outcome != nullptr) journal_->AppendOutcome(last, outcome, kOutcomeByRead, why);
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
