// Records of a controller on the line, reached through the memory transactions on a port slot
// and controller number. The owner retargets it between exchanges; a write sequence that moves
// the controller to a new number follows it with FollowAddress on the exchange thread. Writes to
// the records the controller counts in are guarded (counting_records.h) with the bytes last read
// through this store.
#pragma once

#include "data/counting_records.h"
#include "data/record_store.h"
#include "link/serial_port.h"

namespace velmar {

class LiveRecordStore final : public RecordStore {
  public:
    LiveRecordStore(PortSlot slot, int ctrlrAddress) : slot_(slot), ctrl_(ctrlrAddress) {}

    void Retarget(PortSlot slot, int ctrlrAddress) {
        if (slot != slot_ || ctrlrAddress != ctrl_) counted_.Clear(); // another controller
        slot_ = slot;
        ctrl_ = ctrlrAddress;
    }
    void FollowAddress(int ctrlrAddress) override { ctrl_ = ctrlrAddress; }
    PortSlot Slot() const { return slot_; }
    int Address() const { return ctrl_; }

    StoreResult Read(int address, int length, uint8_t* dst, uint8_t space = 0) override;
    StoreResult Write(int address, int length, const uint8_t* data, uint8_t space = 0) override;
    StoreResult Restart() override;
    StoreResult AwaitAnswer() override;
    StoreResult ReadSizes() override;
    bool Holds(int, uint8_t) const override { return true; }
    bool IsDemo() const override { return false; }

  private:
    PortSlot slot_;
    int ctrl_;
    CountedCopy counted_;
};

} // namespace velmar
