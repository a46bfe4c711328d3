#include "data/fiscal_listing.h"

#include "data/memory_map.h"
#include "data/records.h"

#include <algorithm>

namespace velmar {

int ReadFiscalLines(RecordStore& store, std::vector<std::string>& lines,
                    const FiscalProgress& progress) {
    lines.clear();
    uint8_t block[256] = {};
    const int got = store.Read(addr::kParamsLength, -1, block, 0);
    // The counts and addresses sit in bytes 2..5.
    if (got < 6) return -1;
    const CtrlrParams p(block, got);
    const int nozzles = p.CountNozTrk();
    const int sides = p.CountSideTrk();
    const int sideB = sides == 2 ? p.AdrTrk_2() : 0;
    // Channel 16 would be 0x3000, which is not a channel record.
    const int channels = std::min(sides * nozzles, kChannelCount);

    std::vector<std::string> out;
    for (int i = 0; i < channels; ++i) {
        uint8_t buffer[256] = {};
        const int n =
            store.Read(ChannelAddress(addr::kChannelRegsBase, i), regs::kLength, buffer, 0);
        if (n < regs::kLength) return -1;
        const ChannelRegs r(std::span<const uint8_t>(buffer, regs::kLength));
        const int address = i < nozzles ? p.AdrTrk_1() : sideB;
        out.push_back("Адрес " + std::to_string(address) + ". Рукав " +
                      std::to_string(i % nozzles + 1) + ". Фискальный сумматор = " +
                      std::to_string(r.FCount()) + "," + std::to_string(r.FCMil()));
        if (progress && !progress(i + 1)) return kFiscalCancelled;
    }
    lines = std::move(out);
    return 1;
}

} // namespace velmar
