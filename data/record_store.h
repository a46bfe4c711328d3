// One way for every screen, dialog and command to read and write controller records, whether
// they live in a controller on the line, the demo image, an image file or memory. Every operation
// answers with a StoreResult; a read's says how many bytes it gave.
#pragma once

#include "data/memory_map.h"
#include "data/store_result.h"

#include <cstdint>

namespace velmar {

class RecordStore {
  public:
    virtual ~RecordStore() = default;

    // length <= 0 reads a self-sized record, as the memory read does.
    virtual StoreResult Read(int address, int length, uint8_t* dst, uint8_t space = 0) = 0;
    virtual StoreResult Write(int address, int length, const uint8_t* data, uint8_t space = 0) = 0;
    // Restart after a successful record write; the demo image needs none and is done at once.
    // Sent once: NoAnswer when its status was lost (it may have restarted), Declined when the
    // controller refused it.
    virtual StoreResult Restart() = 0;
    // Waits (bounded) until a just restarted controller answers again; NoAnswer when it stayed
    // silent. Stores without a controller behind them are always ready.
    virtual StoreResult AwaitAnswer() { return StoreResult::Done(); }
    // Refreshes Sizes() from the controller (or image); on failure Sizes() is cleared.
    virtual StoreResult ReadSizes() = 0;
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
    StoreResult TakeSizes(StoreResult result, const uint8_t bytes[7]) {
        if (result.Ok())
            sizes_.SetFromBytes(bytes);
        else
            sizes_.Clear();
        return result;
    }

  private:
    SizesRecord sizes_;
};

} // namespace velmar
