// Address lists of the initial setup: the comma-separated side and channel (Nara) addresses the
// engineer types, and their automatic filling when the side or nozzle count is chosen.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace velmar {

inline constexpr int kSetupMaxSides = 2;
inline constexpr int kSetupMaxChannels = 16;

using SideAddressList = std::array<int, kSetupMaxSides>;
using ChannelAddressList = std::array<int, kSetupMaxChannels>;

struct AddressListParse {
    std::vector<int> values; // the numbers read, in order (fewer than asked when the text stops)
    bool valid = false;      // exactly `count` numbers, each 1..255, no two equal
};

// Exactly `count` decimal integers separated by single commas. Each number may have leading
// blanks and a sign; the comma follows the previous number directly; nothing after the last.
// Every address is stored in one byte and 0 means "none", so only 1..255 are accepted.
AddressListParse ParseAddressList(std::string_view text, int count);

// "1,2,3": the first `count` entries joined by commas, no trailing comma.
std::string JoinAddressList(const int* list, int count);

// Side addresses 1 (and 2).
void AutoFillUtrkAdr(int sides, SideAddressList& list);

// Channel addresses for `sides` x `nozzles`, position s * nozzles + j. Side A is numbered from 1
// and side B from 5, so that a change of nozzle count keeps side B's numbers; with more than
// four nozzles per side side B starts after side A's last address instead, since from 5 the two
// sides would share addresses. A nozzle count above 16 / sides is lowered to it; returns the
// nozzle count kept.
int AutoFillNaraAdr(int sides, int nozzles, ChannelAddressList& list);

} // namespace velmar
