#include "data/params_io.h"

#include "data/memory_map.h"
#include "data/meter_settings.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace velmar {

StoreResult WriteParamsSized(RecordStore& store, const CtrlrParams& working, int paramsLength) {
    int size = paramsLength;
    if (size <= 0 || size >= params::kAreaLength) size = working.Length();
    CtrlrParams out;
    out.SetLength(size);
    std::memcpy(out.data(), working.data(), static_cast<size_t>(std::min(size, working.Length())));
    out.UpdateKsm();
    return WriteParamsBlock(store, out);
}

} // namespace velmar
