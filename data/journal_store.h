// A record store that journals every write it passes on. Each write is entered before it goes on
// the line, with its outcome unknown, and its outcome after: a journal that cannot take the entry
// keeps the write from starting, and a crash in between leaves the write entered as unknown. The
// old value of each field comes from the copy last read through this store; a record not read
// before is entered with its old values unknown rather than read first (no exchange the write
// itself does not need). A write left unknown is settled by the next read of its record through
// a journaling store: the record as written means written, as it was before means not written.
// Demo and image-file stores pass through unjournaled: they hold no controller.
#pragma once

#include "data/journal.h"
#include "data/journal_record.h"
#include "data/record_store.h"
#include "data/write_recorder.h"

#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace velmar {

class JournalStore : public RecordStore, public WriteRecorder {
  public:
    // The journal at `journalPath` is opened at the first write; an empty path journals nothing
    // (no journal was asked for).
    JournalStore(RecordStore& inner, std::string journalPath, JournalContext context);

    JournalContext& Context() { return context_; }
    RecordStore& Inner() { return inner_; }
    // Why the journal refused a write, which then never started (the first refusal since
    // ClearError; empty when the journal took every write).
    const std::string& LastError() const { return error_; }
    void ClearError() { error_.clear(); }
    // Set when a write was made but its outcome could not be entered: the journal shows it as
    // unknown. The engineer's text, until cleared.
    const std::string& Incomplete() const { return incomplete_; }
    void ClearIncomplete() { incomplete_.clear(); }
    // Forgets the copies read (another controller is in use).
    void ForgetReads() { reads_.clear(); }
    // True when the journal is open and could take an entry now; else false with the reason.
    // True without a journal path.
    bool Ready(std::string& error);
    // Commits entries made elsewhere to this store's journal.
    bool Record(std::vector<JournalEntry>& entries, std::string& error);

    // WriteRecorder, for writes made past this store (a whole image): the old values from the
    // copies read through it.
    bool BeforeWrite(int address, int length, const uint8_t* data, uint8_t space) override;
    void AfterWrite(StoreResult result) override;
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

    // Settles the last write entered at this record, when unknown, by the bytes just read.
    void Settle(uint8_t space, int address, const uint8_t* bytes, int length);

    RecordStore& inner_;
    std::string path_;
    std::unique_ptr<Journal> journal_;
    JournalContext context_;
    std::string error_;
    std::string incomplete_;
    JournalWrite current_;   // the write entered and not yet answered
    bool tracking_ = false;  // current_ passed the journal and goes on the line
    bool settleOff_ = false; // the journal could not be opened for settling reads
    std::map<std::pair<uint8_t, int>, std::vector<uint8_t>> reads_;
};

} // namespace velmar
