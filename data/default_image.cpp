#include "data/default_image.h"

#include "base/atomic_file.h"
#include "data/demo_store.h"
#include "data/memory_map.h"
#include "data/topology.h"

#include <algorithm>

namespace velmar {

namespace {

constexpr uint32_t kDefaultCounterLow = 0x80000000u;
constexpr uint8_t kSpeed4800 = 3;
constexpr uint8_t kMeter100 = 0;
constexpr uint8_t kSlowStart100ml = 1;
constexpr uint8_t kSlowLoad300ml = 3;
constexpr uint8_t kNozzleFat300ml = 30;
constexpr uint8_t kMetTOut = 15;
constexpr uint8_t kPbTimeoutWritten = 15;

struct PresetValues {
    uint8_t phase;
    uint16_t trkModes;
    uint8_t typeTbl;
};

PresetValues ValuesOf(DefaultPreset preset) {
    if (preset == DefaultPreset::Nara) return {1, 0x1402, 3};
    return {0, 0x1401, 6};
}

int NaraAddress(const DefaultTopology& t, int i) {
    return t.naraAddresses.empty() ? i + 1 : t.naraAddresses[static_cast<size_t>(i)];
}

} // namespace

TopologyCheck CheckDefaultTopology(const DefaultTopology& t) {
    if (t.sides < 1 || t.sides > 2) return TopologyCheck::BadSides;
    if (t.nozzles < 1 || t.nozzles > kTopologyMaxNozzles) return TopologyCheck::BadNozzles;
    auto badByte = [](int v) { return v < 1 || v > 255; };
    if (badByte(t.sideA) || (t.sides == 2 && badByte(t.sideB)))
        return TopologyCheck::BadSideAddress;
    if (t.sides == 2 && t.sideA == t.sideB) return TopologyCheck::SameSideAddress;
    const int channels = t.sides * t.nozzles;
    if (!t.naraAddresses.empty() && static_cast<int>(t.naraAddresses.size()) != channels) {
        return TopologyCheck::BadNaraCount;
    }
    for (int i = 0; i < channels; ++i) {
        if (badByte(NaraAddress(t, i))) return TopologyCheck::BadNaraAddress;
        for (int j = 0; j < i; ++j) {
            if (NaraAddress(t, i) == NaraAddress(t, j)) return TopologyCheck::SameNaraAddress;
        }
    }
    return TopologyCheck::Ok;
}

const char* DefaultTopologyErrorText(TopologyCheck code) {
    switch (code) {
    case TopologyCheck::Ok:
        return "";
    case TopologyCheck::BadSides:
        return "Количество сторон должно быть 1 или 2";
    case TopologyCheck::BadNozzles:
        return "Количество РК на сторону должно быть от 1 до 8";
    case TopologyCheck::BadSideAddress:
        return "Адрес стороны должен быть от 1 до 255";
    case TopologyCheck::SameSideAddress:
        return "Адреса сторон совпадают";
    case TopologyCheck::BadNaraCount:
        return "Количество адресов раздаточных кранов не равно числу рукавов";
    case TopologyCheck::BadNaraAddress:
        return "Адрес раздаточного крана должен быть от 1 до 255";
    case TopologyCheck::SameNaraAddress:
        return "Адреса раздаточных кранов совпадают";
    default:
        return "Ошибка";
    }
}

DeviceBuffer BuildDefaultImage(DefaultPreset preset, const DefaultTopology& t) {
    const PresetValues v = ValuesOf(preset);
    const int sides = std::clamp(t.sides, 1, 2);
    const int nozzles = std::clamp(t.nozzles, 1, kTopologyMaxNozzles);
    const int channels = sides * nozzles;

    DeviceBuffer image;
    CtrlrParams p;
    p.SetSpeedTrk(kSpeed4800);
    p.SetSpeed2CnlTrk(kSpeed4800);
    p.SetAdrTrk_1(static_cast<uint8_t>(t.sideA));
    p.SetAdrTrk_2(sides == 2 ? static_cast<uint8_t>(t.sideB) : 0);
    p.SetCountNozTrk(static_cast<uint8_t>(nozzles));
    p.SetCountSideTrk(static_cast<uint8_t>(sides));
    for (int i = 0; i < channels; ++i) {
        p.SetAdrNaraTrk(i, static_cast<uint8_t>(NaraAddress(t, i)));
    }
    p.SetMeterType(kMeter100);
    p.SetPhaseMet(v.phase);
    p.SetSlowStart(kSlowStart100ml);
    p.SetSlowLoad(kSlowLoad300ml);
    p.SetNozzleFat(kNozzleFat300ml);
    p.SetMetTOut(kMetTOut);
    p.SetTrkModes(v.trkModes);
    p.SetTypeTbl(v.typeTbl);
    FillDefaultMap(p, sides, nozzles);
    p.UpdateKsm();
    image.SetParams(p);

    ChannelSetts s;
    s.SetW(kDefaultCounterLow);
    s.SetKL(kDefaultCounterLow);
    s.SetImpLit(setts::MeterFactor(kMeter100));
    s.SetMeterPhase(v.phase);
    for (int n = 0; n < kChannelCount; ++n) image.SetSetts(n, s);

    MakeBlock make;
    make.Set(0, 2, (1u << channels) - 1); // used-channel mask
    make.SetPbTimeoutNara(kPbTimeoutWritten);
    image.SetMake(make);
    // Side states and channel registers (fiscal totalisers included) stay 0.
    return image;
}

std::vector<std::string> DefaultPresetText(DefaultPreset preset) {
    if (preset == DefaultPreset::Nara) {
        return {"Общие настройки:",
                "100 импульсов на литр, с пересчетом по двум фазам.",
                "Доза, отпускаемая в режиме малой производительности,",
                "при старте  - 100 мл.",
                "Доза, отпускаемая в режиме малой производительности,",
                "при завершении - 300 мл.",
                "Тип табло - TBL-217",
                "",
                "Битовая маска режимов:",
                "Не инверсный датчик положения раздаточного крана.",
                "Дополнение до суммы.",
                "Старт от изменения положения раздаточного крана",
                "Разрешено продолжение после останова клиентом.",
                "",
                "Фискальные счетчики будут обнулены."};
    }
    std::vector<std::string> lines{"Общие настройки:",
                                   "100 импульсов на литр, с пересчетом по одной фазе.",
                                   "Доза, отпускаемая в режиме малой производительности,",
                                   "при старте  - 100 мл.",
                                   "Доза, отпускаемая в режиме малой производительности,",
                                   "при завершении - 300 мл.",
                                   "Тип табло - Т-209-17.",
                                   "",
                                   "Битовая маска режимов:",
                                   "Инверсный датчик положения раздаточного крана.",
                                   "Дополнение до суммы.",
                                   "Разрешено продолжение после останова клиентом.",
                                   "",
                                   "Фискальные счетчики будут обнулены."};
    if (preset == DefaultPreset::None) {
        lines.insert(lines.begin() + 6, "Компенсация раздутия шланга 300 мл.");
    }
    return lines;
}

std::array<uint8_t, DeviceBuffer::kDemoHeaderLength> DemoHeaderFor(const DeviceBuffer& image) {
    const CtrlrParams p = image.Params();
    return {static_cast<uint8_t>(params::kUsualLength),
            p.CountNozTrk(),
            p.CountSideTrk(),
            static_cast<uint8_t>(setts::kLength),
            0,
            static_cast<uint8_t>(regs::kLength),
            static_cast<uint8_t>(side::kLength)};
}

DemoReplacer ReplaceDemoFile(RecordStore& store) {
    auto* demoStore = dynamic_cast<DemoRecordStore*>(&store);
    if (demoStore == nullptr) return {};
    return [demoStore](const std::vector<uint8_t>& file) {
        if (WriteFileAtomically(demoStore->Path(), file.data(), file.size()) != 0) return false;
        demoStore->Release();
        return true;
    };
}

StoreResult DefaultsDeviceCheck(RecordStore& store) {
    uint8_t status[256] = {};
    return store.Read(addr::kStatusIR, 1, status, 2);
}

bool DefaultsDeviceSupported(RecordStore& store) {
    const StoreResult check = DefaultsDeviceCheck(store);
    return !check.Ok() || check.Length() != 0;
}

DefaultsWriteResult WriteDefaultImage(RecordStore& store, const DeviceBuffer& image,
                                      int& ctrlrAddress, const DemoReplacer& replaceDemo,
                                      const DefaultsProgress& progress) {
    DefaultsWriteResult result;
    const CtrlrParams p = image.Params();

    if (store.IsDemo()) {
        const auto header = DemoHeaderFor(image);
        std::vector<uint8_t> file(header.size() + image.bytes.size());
        std::copy(header.begin(), header.end(), file.data());
        std::copy(image.bytes.begin(), image.bytes.end(), file.data() + header.size());
        if (!replaceDemo || !replaceDemo(file)) {
            result.failedSteps = 1;
            result.messages.emplace_back("Ошибка записи");
            return result;
        }
        if (progress) progress(DeviceBuffer::kLength, DeviceBuffer::kLength);
        return result;
    }

    struct Step {
        int address;
        int offset;
        int length;
        const char* failText;
    };
    std::vector<Step> steps{
        {addr::kParams, DeviceBuffer::kParamsOffset, params::kUsualLength,
         "Ошибка записи параметров контроллера"},
        {addr::kSideStateA, DeviceBuffer::SideStateOffset(0), side::kLength,
         "Ошибка записи состояния первой стороны"},
        {addr::kSideStateB, DeviceBuffer::SideStateOffset(1), side::kLength,
         "Ошибка записи состояния второй стороны"},
        {addr::kMakeBlock, DeviceBuffer::kMakeOffset, make::kLength,
         "Ошибка записи настроек НАРА_АЗС"},
    };
    for (int n = 0; n < kChannelCount; ++n) {
        steps.push_back({ChannelAddress(addr::kChannelSettsBase, n), DeviceBuffer::SettsOffset(n),
                         setts::kLength, "Ошибка записи настроек шланга"});
    }
    for (int n = 0; n < kChannelCount; ++n) {
        steps.push_back({ChannelAddress(addr::kChannelRegsBase, n), DeviceBuffer::RegsOffset(n),
                         regs::kLength, "Ошибка записи состояния шланга"});
    }

    int done = 0;
    bool paramsWritten = false;
    for (const Step& step : steps) {
        if (!store.Write(step.address, step.length, image.data() + step.offset, 0).Ok()) {
            ++result.failedSteps;
            result.messages.emplace_back(step.failText);
        } else if (step.address == addr::kParams) {
            paramsWritten = true;
        }
        done += step.length;
        if (progress) progress(done, DeviceBuffer::kLength);
    }

    // The controller takes its new addresses at the restart, so the restart goes to the old one.
    result.restartSent = store.Restart().Ok();
    if (paramsWritten && ctrlrAddress != p.AdrTrk_1() && ctrlrAddress != p.AdrTrk_2()) {
        ctrlrAddress = p.AdrTrk_1();
        store.FollowAddress(ctrlrAddress);
        result.addressChanged = true;
    }
    return result;
}

} // namespace velmar
