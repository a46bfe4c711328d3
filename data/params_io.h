// Writing the controller parameter block for the screens that edit parts of it: the write at the
// size the controller reported, with the checksum as the last byte.
#pragma once

#include "data/ctrlr_params.h"
#include "data/record_store.h"

namespace velmar {

// Writes `working` with the length the controller last reported, `paramsLength` (bytes beyond the
// block's own length 0, the last byte its checksum); 0 or out of range takes the block's length.
StoreResult WriteParamsSized(RecordStore& store, const CtrlrParams& working, int paramsLength);

} // namespace velmar
