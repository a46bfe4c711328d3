// The write sequences of the window, over the controller model: each sends a working copy (or
// what a dialog builds from it) to the controller the store reaches, and on success makes it the
// copy as read. They take values (slot, numbers) and the model, never the window's state, and
// they answer with WriteResult, but for the initial setup, whose records fail one by one
// (SetupWriteResult). They run on the exchange thread while the window waits; the
// window words the outcome.
#pragma once

#include "data/channel_io.h"
#include "data/controller_model.h"
#include "data/meter_settings.h"
#include "data/params_write.h"
#include "data/record_store.h"
#include "data/setup_write.h"

namespace velmar {

// The parameter block of the controller settings tab, with the restart, the port following a
// new speed, the new number taken into use and the channels brought in line (params_write.h).
ParamsWriteOutcome WriteModelParams(ControllerModel& model, ParamsWriteRequest request);

// The parameter block at the length of the sizes record (the advanced settings tab); no
// restart. NoChanges, NotRead, WriteFailed or Written.
WriteResult WriteModelParamsSized(ControllerModel& model, RecordStore& store);

// The make-specific block. NoChanges, NotRead, WriteFailed or Written.
WriteResult WriteModelMake(ControllerModel& model, RecordStore& store);

// One write attempt of channel n's settings or registers (channel_io.h: sizes refreshed first,
// restart after a live write). NoChanges, NotRead, SizesFailed, WriteFailed or Written.
WriteResult WriteModelChannelSetts(ControllerModel& model, RecordStore& store, int n);
WriteResult WriteModelChannelRegs(ControllerModel& model, RecordStore& store, int n);

// The parameter block's meter type and phase follow channels 0..count-1 (meter_settings.h).
// Derived from the block as the controller holds it, never from unsaved edits; the working copy
// takes the two fields too. The outcome of DeriveCtrlrMeterSettings; ReadFailed when the block was
// never read.
MeterDeriveOutcome DeriveModelMeterSettings(ControllerModel& model, RecordStore& store, int count);

// Side 0 or 1's state record at `address`. NotRead, WriteFailed or Written (the side tab writes
// what it holds whether or not it changed).
WriteResult WriteModelSide(ControllerModel& model, RecordStore& store, int side, int address);

// The temperature table. NotRead, WriteFailed or Written.
WriteResult WriteModelTemperatures(ControllerModel& model, RecordStore& store);

// The dump tab's memory block, whole, into the space it was read from (written whether or not
// it changed). NotRead, WriteFailed or Written.
WriteResult WriteModelDump(ControllerModel& model, RecordStore& store);

// The initial setup: the working block and the sixteen working channel settings as the dialog
// set them up, and the register records cleared but for their fiscal totalisers
// (setup_write.h). What was written becomes the copy as read; the registers are forgotten.
SetupWriteResult WriteModelInitialSetup(ControllerModel& model, RecordStore& store,
                                        const SetupProgress& progress = {});

} // namespace velmar
