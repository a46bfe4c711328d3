// Records of a controller on the line, reached through the memory transactions on the session's
// port slot and controller number (followed by reference, so a changed number takes effect).
#pragma once

#include "data/record_store.h"
#include "link/serial_port.h"

namespace velmar {

class LiveRecordStore final : public RecordStore {
  public:
    LiveRecordStore(const PortSlot& slot, const int& ctrlrAddress)
        : slot_(slot), ctrl_(ctrlrAddress) {}

    int Read(int address, int length, uint8_t* dst, uint8_t space = 0) override;
    int Write(int address, int length, const uint8_t* data, uint8_t space = 0) override;
    int Restart() override;
    int AwaitAnswer() override;
    int ReadSizes() override;
    bool Holds(int, uint8_t) const override { return true; }
    bool IsDemo() const override { return false; }

  private:
    const PortSlot& slot_;
    const int& ctrl_;
};

} // namespace velmar
