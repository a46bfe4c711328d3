#include "data/params_io.h"

#include "data/memory_map.h"
#include "data/meter_settings.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace velmar {

int ReadParamsCopies(RecordStore& store, CtrlrParams& working, CtrlrParams& shadow,
                     ParamsReadCheck& check) {
    std::array<uint8_t, params::kAreaLength> bytes{};
    int got = 0;
    for (int attempt = 0; attempt < kParamsEmptyReadsAllowed && got == 0; ++attempt)
        got = store.Read(addr::kParamsLength, -1, bytes.data(), 0);
    if (got < 1) return -1;
    got = std::min(got, params::kAreaLength - 1);

    store.Sizes().paramsLength = got;
    shadow.Assign(bytes.data(), got);
    working.Assign(bytes.data(), got);
    check = CheckParamsOnRead(working);
    return 1;
}

int WriteParamsSized(RecordStore& store, const CtrlrParams& working) {
    int size = store.Sizes().paramsLength;
    if (size <= 0 || size >= params::kAreaLength) size = working.Length();
    CtrlrParams out;
    out.SetLength(size);
    std::memcpy(out.data(), working.data(), static_cast<size_t>(std::min(size, working.Length())));
    out.UpdateKsm();
    return WriteParamsBlock(store, out);
}

} // namespace velmar
