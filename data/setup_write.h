// The initial setup's write: the chosen topology, display type and meter settings applied to
// the parameter block and the sixteen channel settings, then the block, the settings and the
// reset channel registers written to the controller (or the demo image).
#pragma once

#include "data/record_store.h"
#include "data/setup_monitor.h"

#include <functional>

namespace velmar {

struct InitialSetupChoice {
    int sides = 1;   // 1..2
    int nozzles = 1; // per side
    SideAddressList sideAddresses{1, 2};
    ChannelAddressList channelAddresses{};
    int tableType = 0; // TypeTbl, 0..6
    int meterType = 0; // 0 "100 импульсов", 1 "256 импульсов"
    int phase = 0;     // 0..2
};

// Applies the choice: counts, TrkModes 0x1401, side addresses (side B only with two sides),
// Nara addresses (0 beyond the used channels), the map, meter type, phase, display type and
// Ksm; every channel gets the factor of the meter type (its calibration rescaled when the factor
// changes) and the phase. The other fields of `p` (doses, timeouts) stay as the dialog stored
// them.
void ApplyInitialSetup(const InitialSetupChoice& choice, CtrlrParams& p, ChannelSettsSet& setts);

// Checks a choice before anything is written: counts in range, every used address 1..255 and
// no address used twice. True when it can be written.
bool InitialSetupChoiceValid(const InitialSetupChoice& choice);

struct SetupWriteResult {
    bool paramsFailed = false;
    int settsFailed = 0;
    int regsFailed = 0; // a register record that could not be read is not written either
    bool Failed() const { return paramsFailed || settsFailed > 0 || regsFailed > 0; }
};

using SetupProgress = std::function<void(int done, int total)>;

// Writes the block (`shadow` follows on success), the sixteen settings records (`settsShadow`
// follows each) and the sixteen register records: each is read, cleared except for its fiscal
// totaliser, given the price 1000 and written back. A failed record does not stop the others.
// A live controller is restarted at the end. What failed, if anything ("Ошибка записи!").
SetupWriteResult WriteInitialSetup(RecordStore& store, const CtrlrParams& p, CtrlrParams& shadow,
                                   const ChannelSettsSet& setts, ChannelSettsSet& settsShadow,
                                   const SetupProgress& progress = {});

inline constexpr const char* kSetupWriteFailedText = "Ошибка записи!";
inline constexpr uint16_t kSetupPrice = 1000;

} // namespace velmar
