// Reading and writing the controller parameter block for the screens that edit parts of it: the
// self-sized read into a working copy and its shadow with the read checks, and the write at the
// size the controller reported with the checksum as the last byte.
#pragma once

#include "data/ctrlr_params.h"
#include "data/read_checks.h"
#include "data/record_store.h"

namespace velmar {

// An empty answer is asked again; the third in a row fails the read.
inline constexpr int kParamsEmptyReadsAllowed = 3;

// 1: both copies hold the block as read, `working` repaired by the read checks and `check`
// saying what was repaired; the store's sizes record takes the length. -1: nothing changed.
int ReadParamsCopies(RecordStore& store, CtrlrParams& working, CtrlrParams& shadow,
                     ParamsReadCheck& check);

// Writes `working` with the length of the sizes record (bytes beyond the block's own length 0,
// the last byte its checksum). 1 or -1.
int WriteParamsSized(RecordStore& store, const CtrlrParams& working);

} // namespace velmar
