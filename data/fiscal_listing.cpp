#include "data/fiscal_listing.h"

#include "data/memory_map.h"
#include "data/model_reads.h"
#include "data/records.h"

#include <algorithm>

namespace velmar {

namespace {

constexpr int kCountsEnd = 6; // the parameter block's bytes up to its counts and addresses

} // namespace

FiscalListResult ReadFiscalLines(RecordStore& store, std::vector<std::string>& lines,
                                 const FiscalProgress& progress) {
    lines.clear();
    ControllerModel model;
    // The counts and addresses sit in bytes 2..5.
    if (ReadModelParams(model, store, 1) != ReadResult::Read ||
        model.Params().read.Length() < kCountsEnd)
        return FiscalListResult::ReadFailed;
    const CtrlrParams& p = model.Params().read;
    const int nozzles = p.CountNozTrk();
    const int sides = p.CountSideTrk();
    const int sideB = sides == 2 ? p.AdrTrk_2() : 0;
    // Channel 16 would be 0x3000, which is not a channel record.
    const int channels = std::min(sides * nozzles, kChannelCount);

    std::vector<std::string> out;
    for (int i = 0; i < channels; ++i) {
        if (ReadModelChannelRegs(model, store, i) != ReadResult::Read)
            return FiscalListResult::ReadFailed;
        const ChannelRegs& r = model.Regs(i).read;
        const int address = i < nozzles ? p.AdrTrk_1() : sideB;
        out.push_back("Адрес " + std::to_string(address) + ". Рукав " +
                      std::to_string(i % nozzles + 1) + ". Фискальный сумматор = " +
                      std::to_string(r.FCount()) + "," + std::to_string(r.FCMil()));
        if (progress && !progress(i + 1)) return FiscalListResult::Cancelled;
    }
    lines = std::move(out);
    return FiscalListResult::Listed;
}

} // namespace velmar
