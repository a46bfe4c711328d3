// The read sequences of the window, over the controller model: each reads one record kind from
// the controller the store reaches and, on success, the model takes it (both copies, and "was
// read"); on failure the model is left as it was. They take values (channel, side, address) and
// the model, never the window's state, and they all answer with ReadResult. They run on the
// exchange thread while the window waits; the window words the outcome and runs the read checks
// (read_checks.h) on the working copy as it shows it.
#pragma once

#include "data/controller_model.h"
#include "data/record_results.h"
#include "data/record_store.h"

#include <cstdint>
#include <functional>

namespace velmar {

// An empty answer to the parameter block is asked again; the third in a row fails the read.
inline constexpr int kParamsEmptyReadsAllowed = 3;

// The self-sized parameter block (its length byte at 0x3100, then the block): asked again after
// an empty answer, `emptyReadsAllowed` times in all. The store's sizes record takes the length
// read. Read, Empty or ReadFailed.
ReadResult ReadModelParams(ControllerModel& model, RecordStore& store,
                           int emptyReadsAllowed = kParamsEmptyReadsAllowed);

// The make-specific block, whole. Read or ReadFailed.
ReadResult ReadModelMake(ControllerModel& model, RecordStore& store);

// Channel n's settings or registers, whole (channel_io.h). Read or ReadFailed.
ReadResult ReadModelChannelSetts(ControllerModel& model, RecordStore& store, int n);
ReadResult ReadModelChannelRegs(ControllerModel& model, RecordStore& store, int n);

// The sixteen channels' settings for the initial setup: a channel that does not answer is asked
// again, until `failuresAllowed` failures in all fail the read. Any answer is taken (bytes not
// sent stay zero). The model takes all sixteen or none. Read or ReadFailed.
ReadResult ReadModelAllSetts(ControllerModel& model, RecordStore& store, int failuresAllowed);

// Side 0 or 1's state record at `address`, whole. Read or ReadFailed.
ReadResult ReadModelSide(ControllerModel& model, RecordStore& store, int side, int address);

// The temperature table, whole. Read or ReadFailed.
ReadResult ReadModelTemperatures(ControllerModel& model, RecordStore& store);

// What a long read reports between its transactions: whether to stop, and how far it got.
struct ReadProgress {
    std::function<bool()> cancelled;
    std::function<void(int done)> step;
};

// `count` (> 0) bytes of memory space `space` from `address`, one transaction at a time, as the
// dump tab's block. Read, ReadFailed or Cancelled.
ReadResult ReadModelDump(ControllerModel& model, RecordStore& store, uint32_t address, int count,
                         uint8_t space, const ReadProgress& progress = {});

} // namespace velmar
