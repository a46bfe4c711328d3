// The controller in use and what the window knows of it. One per session: the identity of the
// controller (number, identification text and whether it was identified) and, for every record
// the window reads, the copy as read from this controller, the working copy the screens edit, and
// whether it has been read at all. Everything is forgotten the moment the identity changes, so
// that nothing read from one controller can be shown for, or written into, another.
//
// Screens show and edit the working copies; the read sequences (model_reads.h) fill both copies,
// the write sequences (model_writes.h) send the working copies and bring the read copies along,
// and the journal takes the copies as read from it (journal_store.h).
// No Qt: the tests drive it as the window does.
#pragma once

#include "data/memory_map.h"
#include "data/records.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace velmar {

struct ControllerIdentity {
    int address = 0;         // the controller number frames carry
    std::string identText;   // the identification text as shown
    bool identified = false; // identification succeeded (or an image stands in for it)
};

// A block of raw memory the dump tab read: where it came from and its bytes.
struct MemoryBlock {
    uint32_t address = 0;
    uint8_t space = 0;
    std::vector<uint8_t> bytes;
    bool operator==(const MemoryBlock&) const = default;
};

// One record as the window holds it.
template <class R> struct HeldRecord {
    R read;    // the bytes last read from or written to the controller (the shadow copy)
    R working; // the bytes the screens edit
    bool wasRead = false;

    // A read arrived: both copies take it.
    void Take(const R& bytes) {
        read = bytes;
        working = bytes;
        wasRead = true;
    }
    // The working copy was written: it is what the controller holds now.
    void Written() { read = working; }
    // Edits not written yet.
    bool Unsaved() const { return wasRead && !(working == read); }
    // The working copy goes back to what the controller holds.
    void Revert() { working = read; }
    void Forget() { *this = HeldRecord{}; }
};

class ControllerModel {
  public:
    const ControllerIdentity& Identity() const { return identity_; }
    // Takes a new identity and forgets every record: even the same number on the same line may
    // be another controller after an identification (a board swapped, an address rewritten).
    void SetIdentity(const ControllerIdentity& identity);
    // Forgets the controller: no identity, no records.
    void Clear();
    // Forgets every record but keeps the identity (the controller's memory was rewritten whole).
    void ForgetRecords();
    // Counts the clears: a screen that remembers the value it showed can tell its view is stale.
    uint64_t Generation() const { return generation_; }

    HeldRecord<CtrlrParams>& Params() { return params_; }
    const HeldRecord<CtrlrParams>& Params() const { return params_; }
    HeldRecord<MakeBlock>& Make() { return make_; }
    const HeldRecord<MakeBlock>& Make() const { return make_; }
    HeldRecord<TempTable>& Temperatures() { return temperatures_; }
    const HeldRecord<TempTable>& Temperatures() const { return temperatures_; }
    // Channel n (0..15); callers check the number first (another throws std::out_of_range).
    HeldRecord<ChannelSetts>& Setts(int channel) { return setts_.at(Index(channel)); }
    const HeldRecord<ChannelSetts>& Setts(int channel) const { return setts_.at(Index(channel)); }
    HeldRecord<ChannelRegs>& Regs(int channel) { return regs_.at(Index(channel)); }
    const HeldRecord<ChannelRegs>& Regs(int channel) const { return regs_.at(Index(channel)); }
    // Side 0 (A) or 1 (B).
    HeldRecord<SideState>& Side(int side) { return sides_.at(static_cast<size_t>(side)); }
    const HeldRecord<SideState>& Side(int side) const {
        return sides_.at(static_cast<size_t>(side));
    }

    // The memory block of the dump tab.
    HeldRecord<MemoryBlock>& Dump() { return dump_; }
    const HeldRecord<MemoryBlock>& Dump() const { return dump_; }

  private:
    static size_t Index(int channel) { return static_cast<size_t>(channel); }

    ControllerIdentity identity_;
    uint64_t generation_ = 0;
    HeldRecord<CtrlrParams> params_;
    HeldRecord<MakeBlock> make_;
    HeldRecord<TempTable> temperatures_;
    std::array<HeldRecord<ChannelSetts>, kChannelCount> setts_{};
    std::array<HeldRecord<ChannelRegs>, kChannelCount> regs_{};
    std::array<HeldRecord<SideState>, 2> sides_{};
    HeldRecord<MemoryBlock> dump_;
};

} // namespace velmar
