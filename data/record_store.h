// One way for every screen, dialog and command to read and write controller records, whether
// they live in a controller on the line or in the demo image. Result codes are those of the
// memory transactions: reads return the bytes stored (> 0), 0, -1 or -3; writes 1, -1 or -3.
#pragma once

#include "data/memory_map.h"

#include <cstdint>

namespace velmar {

class RecordStore {
  public:
    virtual ~RecordStore() = default;

    // length <= 0 reads a self-sized record, as the memory read does.
    virtual int Read(int address, int length, uint8_t* dst, uint8_t space = 0) = 0;
    virtual int Write(int address, int length, const uint8_t* data, uint8_t space = 0) = 0;
    // Restart after a successful record write; the demo image needs none and returns 1.
    virtual int Restart() = 0;
    // Waits (bounded) until a just restarted controller answers again; 1, or -1 when it stayed
    // silent. Stores without a controller behind them are always ready.
    virtual int AwaitAnswer() { return 1; }
    // Refreshes Sizes() from the controller (or image); 1, or -1 with Sizes() cleared.
    virtual int ReadSizes() = 0;
    // False for what the demo image does not hold (temperature table, live registers, dump):
    // screens show their demo text instead of reading.
    virtual bool Holds(int address, uint8_t space) const = 0;
    virtual bool IsDemo() const = 0;
    // A write moved the controller to another number: the rest of the sequence talks to it
    // there. Stores without a controller behind them ignore it.
    virtual void FollowAddress(int /*ctrlrAddress*/) {}

    // The sizes record of this controller as last read (ReadSizes, or a demo read that refreshes
    // it); screens and builders take record lengths from here.
    SizesRecord& Sizes() { return sizes_; }
    const SizesRecord& Sizes() const { return sizes_; }

  protected:
    // Takes the 7 bytes read, or clears the record when the read failed.
    int TakeSizes(int result, const uint8_t bytes[7]) {
        if (result == 1)
            sizes_.SetFromBytes(bytes);
        else
            sizes_.Clear();
        return result == 1 ? 1 : -1;
    }

  private:
    SizesRecord sizes_;
};

} // namespace velmar
