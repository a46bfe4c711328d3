// Keeping the meter settings of the channels and of the parameter block in step: the rescaling
// of a channel's calibration pair when its pulses per litre change, the push of the controller-
// wide meter type and phase mode into every used channel, and the reverse derivation.
#pragma once

#include "data/channel_setts.h"
#include "data/ctrlr_params.h"
#include "data/record_store.h"

namespace velmar {

// Rescales W and K*L for a new meter factor (twice the pulses per litre) and refreshes the low
// 32 bits of K*L - W (bytes 10..13). An old factor of 0 (never calibrated) sets both to
// 2^31 / (new * 0.01) rounded. A new factor of 0 has no meaning and changes nothing. A result
// beyond the 40 bits of the record is held at the largest 40-bit value rather than wrapped.
void ScaleCounterPair(ChannelSetts& record, int oldFactor, int newFactor);

// Pushes MeterType `meterType` (0..2; other values leave the factors) and PhaseMet `phase`
// (0..2; 3 leaves the phases) into channels 0..count-1 and writes back each channel that
// changed (up to three attempts), then restarts a live controller if anything was written.
// Returns the number of channels changed, or -1 when count is above 16, a channel cannot be
// read, a changed channel could not be written (the others are still converted), or the
// restart after the writes was not taken.
int ConvertMeterSettings(RecordStore& store, int meterType, int phase, int count);

// How a derivation of the block's meter type and phase ended.
enum class MeterDeriveCode {
    ReadFailed,  // a channel could not be read: the block is untouched
    WriteFailed, // the changed block was not taken: the shadow copy is unchanged
    Derived,     // the block follows the channels (written when anything changed)
};

// The code and, once derived, what changed: a bit set, 1 meter type, 2 phase (0..3).
struct MeterDeriveOutcome {
    MeterDeriveCode code = MeterDeriveCode::ReadFailed;
    int changed = 0;
    bool operator==(const MeterDeriveOutcome&) const = default;
};

inline constexpr const char* kDeriveWriteFailedText =
    "Ошибка записи данных в настройки контроллера";

// Derives MeterType and PhaseMet of `working` from channels 0..count-1: the one type (phase)
// they share, or 3 when they differ. A channel with a factor of no type, or a phase above 2,
// leaves the state as it is; a state nobody set leaves the field as it is. When anything
// changed, Ksm is recomputed and the block written (live: restart after it); success copies it
// into `shadow`. Derived with what changed, ReadFailed (block untouched) or WriteFailed.
MeterDeriveOutcome DeriveCtrlrMeterSettings(RecordStore& store, int count, CtrlrParams& working,
                                            CtrlrParams& shadow);

// Writes the parameter block where the store keeps it (0x3101 on a controller, the demo image's
// 0x3100 entry) with its own length; 1 or the store's failure code.
StoreResult WriteParamsBlock(RecordStore& store, const CtrlrParams& p);

} // namespace velmar
