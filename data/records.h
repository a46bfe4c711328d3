// All controller record types. Each wraps its bytes with typed little-endian field access; the
// field constants (params::kSpeedTrk, regs::kPrice, ...) name offset, width and signedness once.
#pragma once

#include "data/channel_regs.h"
#include "data/channel_setts.h"
#include "data/ctrlr_params.h"
#include "data/make_block.h"
#include "data/side_state.h"
#include "data/temp_table.h"
