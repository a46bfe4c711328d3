#include "data/memory_map.h"

#include <algorithm>

namespace velmar {

void SizesRecord::SetFromBytes(const uint8_t bytes[7]) {
    paramsLength = bytes[0];
    nozzlesPerSide = bytes[1];
    sides = bytes[2];
    settsLength = bytes[3];
    optionalLength = bytes[4];
    regsLength = bytes[5];
    sideStateLength = bytes[6];
}

std::array<uint8_t, 7> SizesRecord::ToBytes() const {
    std::array<uint8_t, 7> bytes{};
    for (int i = 0; i < 7; ++i) bytes[static_cast<size_t>(i)] = static_cast<uint8_t>((*this)[i]);
    return bytes;
}

int SizesRecord::operator[](int i) const {
    switch (i) {
    case 0:
        return paramsLength;
    case 1:
        return nozzlesPerSide;
    case 2:
        return sides;
    case 3:
        return settsLength;
    case 4:
        return optionalLength;
    case 5:
        return regsLength;
    case 6:
        return sideStateLength;
    default:
        return 0;
    }
}

const std::vector<MemoryMapEntry>& MemoryMap() {
    static const std::vector<MemoryMapEntry> map = {
        {RecordKind::OptionalBlock, addr::kOptionalA, 2, 0x100, 0, 0, "optional blocks"},
        {RecordKind::ChannelSetts, addr::kChannelSettsBase, kChannelCount, 0x100,
         len::kChannelSetts, 0, "ChannelSetts"},
        {RecordKind::ChannelRegs, addr::kChannelRegsBase, kChannelCount, 0x100, len::kChannelRegs,
         0, "ChannelRegs"},
        {RecordKind::Block3000, addr::kBlock3000, 1, 0, len::kBlock3000, 0, "Block3000"},
        {RecordKind::Sizes, addr::kSizes, 1, 0, len::kSizes, 0, "SizesRecord"},
        {RecordKind::ParamsLength, addr::kParamsLength, 1, 0, 1, 0, "CtrlrParams length"},
        {RecordKind::Params, addr::kParams, 1, 0, len::kParams, 0, "CtrlrParams"},
        {RecordKind::SideState, addr::kSideStateA, 2, 0x100, len::kSideState, 0, "SideState"},
        {RecordKind::TempTable, addr::kTempTable, 1, 0, len::kTempTable, 0, "temperature table"},
        {RecordKind::MakeBlock, addr::kMakeBlock, 1, 0, len::kMakeBlock, 0, "MakeBlock"},
        {RecordKind::StatusIR, addr::kStatusIR, 1, 0, 1, 2, "status register"},
        {RecordKind::TempAdcIR, addr::kTempAdcIR, 1, 0, 3, 2, "temperature sensor"},
        {RecordKind::RelayIR, addr::kRelayIR, 1, 0, 1, 2, "heating relay test"},
        {RecordKind::RunRegsIR, addr::kRunRegsIR, 1, 0, 3, 2, "run-time registers"},
        {RecordKind::Restart, addr::kRestart, 1, 0, 1, 0, "restart"},
    };
    return map;
}

const MemoryMapEntry& MemoryMapFind(RecordKind kind) {
    const auto& map = MemoryMap();
    const auto it = std::find_if(map.begin(), map.end(),
                                 [kind](const MemoryMapEntry& e) { return e.kind == kind; });
    return it != map.end() ? *it : map.front(); // every kind has its row
}

int ChannelSide(int channel, int nozzlesPerSide) {
    return nozzlesPerSide > 0 ? channel / nozzlesPerSide : 0;
}

int ChannelHose(int channel, int nozzlesPerSide) {
    return nozzlesPerSide > 0 ? channel % nozzlesPerSide + 1 : 0;
}

std::vector<std::string> ChannelListTexts(int sides, int nozzlesPerSide) {
    std::vector<std::string> texts;
    const int sideCount = std::min(sides, 2);
    for (int side = 0; side < sideCount; ++side) {
        for (int hose = 0; hose < nozzlesPerSide; ++hose) {
            if (side * nozzlesPerSide + hose >= kChannelCount) return texts;
            texts.push_back(std::string("Сторона ") + (side == 0 ? "А" : "Б") + ". Рукав " +
                            std::to_string(hose + 1));
        }
    }
    return texts;
}

} // namespace velmar
