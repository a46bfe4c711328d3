// A record store that journals every write it passes on: the old value of each field comes from
// the copy last read through it (the copy the screens and commands worked from), and only when
// no copy was read is the record read once before the write. A journal that cannot take an entry
// keeps the write from starting. Demo and image-file stores pass through unjournaled: they hold
// no controller.
#pragma once

#include "data/journal.h"
#include "data/journal_record.h"
#include "data/record_store.h"

#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace velmar {

class JournalStore : public RecordStore {
  public:
    // The journal at `journalPath` is opened at the first write; an empty path journals nothing
    // (no journal was asked for).
    JournalStore(RecordStore& inner, std::string journalPath, JournalContext context);

    JournalContext& Context() { return context_; }
    RecordStore& Inner() { return inner_; }
    // Why the last write was refused by the journal (empty when the journal took it).
    const std::string& LastError() const { return error_; }
    void ClearError() { error_.clear(); }
    // Forgets the copies read (another controller is in use).
    void ForgetReads() { reads_.clear(); }
    // True when the journal is open and could take an entry now; else false with the reason.
    // True without a journal path.
    bool Ready(std::string& error);
    // Commits entries made elsewhere (a whole-image write) to this store's journal.
    bool Record(std::vector<JournalEntry>& entries, std::string& error);
    bool Journaling() const { return !path_.empty(); }
    const std::string& Path() const { return path_; }

    StoreResult Read(int address, int length, uint8_t* dst, uint8_t space = 0) override;
    StoreResult Write(int address, int length, const uint8_t* data, uint8_t space = 0) override;
    StoreResult Restart() override;
    StoreResult AwaitAnswer() override;
    StoreResult ReadSizes() override;
    bool Holds(int address, uint8_t space) const override { return inner_.Holds(address, space); }
    bool IsDemo() const override { return inner_.IsDemo(); }
    void FollowAddress(int ctrlrAddress) override;

  private:
    // The sizes record is shared with the store behind: edits of ours go in, reads come back.
    void PushSizes() { inner_.Sizes() = Sizes(); }
    void PullSizes() { Sizes() = inner_.Sizes(); }

    RecordStore& inner_;
    std::string path_;
    std::unique_ptr<Journal> journal_;
    JournalContext context_;
    std::string error_;
    std::map<std::pair<uint8_t, int>, std::vector<uint8_t>> reads_;
};

} // namespace velmar
