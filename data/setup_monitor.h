// The initial setup's read side: the dialog state taken from the controller's parameter block
// (counts, address lists, list selections, with the replacements of bad values) and the lines
// of its parameter monitor.
#pragma once

#include "data/records.h"
#include "data/setup_addresses.h"

#include <array>
#include <string>
#include <vector>

namespace velmar {

using ChannelSettsSet = std::array<ChannelSetts, kSetupMaxChannels>;

// Display types the initial setup offers, "T-107" .. "T-209-17".
inline constexpr int kSetupTableTypes = 7;

struct InitialSetupLoad {
    int sides = 1;   // 1..2
    int nozzles = 1; // per side, at most 16 / sides
    SideAddressList sideAddresses{1, 2};
    ChannelAddressList channelAddresses{};
    std::string sideText;    // "1,2"
    std::string channelText; // "1,2,3,4"
    // Selections of the lists; -1 leaves a list without a selection (nozzle counts 9..15).
    int sidesItem = 0;
    int nozzlesItem = 0;
    int meterItem = 0;
    int phaseItem = 1;
    int tableItem = 5;
    // Messages for replaced values, in the order they are shown.
    std::vector<std::string> messages;
};

// Takes the dialog state from `p` and writes the replacements of bad values into `p` (they reach
// the controller only with the setup's write): more than 2 sides (or 0) become 1, more than 15
// nozzles become 1, a meter type above 1 becomes 0, a phase above 2 becomes 1, a display type
// beyond the setup's seven becomes 5 ("T_209"). Addresses are kept as they are.
InitialSetupLoad LoadInitialSetup(CtrlrParams& p);

// The monitor list: the main settings and, for every used channel (at most 16), its Nara
// address, pulses per litre and phase mode.
std::vector<std::string> MonitorListLines(int ctrlrAddress, const CtrlrParams& p,
                                          const ChannelSettsSet& setts);

} // namespace velmar
