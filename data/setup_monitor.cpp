#include "data/setup_monitor.h"

#include <algorithm>

namespace velmar {

namespace {

constexpr uint8_t kSetupTableFallback = 5; // "T_209"

std::string Num(long long v) {
    return std::to_string(v);
}

} // namespace

InitialSetupLoad LoadInitialSetup(CtrlrParams& p) {
    InitialSetupLoad s;
    // Replacements come first so that the counts below never divide by zero and the lists
    // agree with what a write would send.
    if (p.CountSideTrk() > 2 || p.CountSideTrk() == 0) {
        if (p.CountSideTrk() > 2)
            s.messages.emplace_back("Ошибка чтения к-ва сторон. Установлено значение 1");
        p.SetCountSideTrk(1);
    }
    s.sidesItem = p.CountSideTrk() - 1;
    if (p.CountNozTrk() > 15 || p.CountNozTrk() == 0) {
        if (p.CountNozTrk() > 15)
            s.messages.emplace_back("Ошибка чтения к-ва пистолетов. Установлено значение 1");
        p.SetCountNozTrk(1);
    }
    // 9..15 have no item in "1 пистолет" .. "8 пистолетов".
    s.nozzlesItem = p.CountNozTrk() >= 1 && p.CountNozTrk() <= 8 ? p.CountNozTrk() - 1 : -1;

    s.sides = std::min<int>(p.CountSideTrk(), 2);
    s.nozzles = std::min<int>(p.CountNozTrk(), kSetupMaxChannels / s.sides);
    for (int side = 0; side < s.sides; ++side) {
        for (int j = 0; j < s.nozzles; ++j) {
            const int k = side * s.nozzles + j;
            s.channelAddresses[static_cast<size_t>(k)] = p.AdrNaraTrk(k);
        }
        s.sideAddresses[static_cast<size_t>(side)] = side == 0 ? p.AdrTrk_1() : p.AdrTrk_2();
    }
    s.sideText = JoinAddressList(s.sideAddresses.data(), s.sides);
    s.channelText = JoinAddressList(s.channelAddresses.data(), s.sides * s.nozzles);

    if (p.MeterType() > 1) p.SetMeterType(0);
    s.meterItem = p.MeterType();
    if (p.PhaseMet() > 2) p.SetPhaseMet(1);
    s.phaseItem = p.PhaseMet();
    if (p.TypeTbl() >= kSetupTableTypes) {
        s.messages.emplace_back("Ошибка чтения типа табло. Установлен тип - T-209");
        p.SetTypeTbl(kSetupTableFallback);
    }
    s.tableItem = p.TypeTbl();
    return s;
}

std::vector<std::string> MonitorListLines(int ctrlrAddress, const CtrlrParams& p,
                                          const ChannelSettsSet& setts) {
    static const char* const kTables[] = {
        "Табло типа T-107", "Табло типа T-105", "Табло типа T-202",   "Табло типа T-217",
        "Табло типа T-218", "Табло типа T-209", "Табло типа T-209-17"};
    static const char* const kPhases[] = {"Датчик импульсов с пересчетом одной фазы 1",
                                          "Датчик импульсов с пересчетом двух фаз",
                                          "Датчик импульсов с пересчетом одной фазы 2"};
    std::vector<std::string> lines;
    lines.push_back("Установлена связь с контроллером №" + Num(ctrlrAddress));
    lines.emplace_back();
    lines.emplace_back("   Основные настройки контроллера");
    lines.push_back("Количество сторон - " + Num(p.CountSideTrk()));
    lines.push_back("Количество пистолетов - " + Num(p.CountNozTrk()));
    lines.push_back("Величина долива - " + Num(p.SlowLoad() * 100) + " мл");
    lines.push_back("Величина компенсации раздутия шланга - " + Num(p.NozzleFat() * 10) + " мл");
    lines.push_back("Величина таймаута крыльчатки - " + Num(p.MetTOut()) + " сек");
    lines.push_back("Величина старта на пониженной производительности - " +
                    Num(p.SlowStart() * 100));
    lines.emplace_back(p.TypeTbl() < kSetupTableTypes ? kTables[p.TypeTbl()]
                                                      : "Тип табло неопределен");
    lines.emplace_back();
    lines.emplace_back("     Настройки каналов");
    const int channels = std::min(p.CountNozTrk() * p.CountSideTrk(), kSetupMaxChannels);
    for (int c = 0; c < channels; ++c) {
        const ChannelSetts& s = setts[static_cast<size_t>(c)];
        lines.emplace_back();
        lines.push_back("Настройки канала с адресом " + Num(p.AdrNaraTrk(c)));
        lines.push_back("Датчик - " + Num(s.ImpLit() >> 1) + " импульсов");
        if (s.MeterPhase() < 3) lines.emplace_back(kPhases[s.MeterPhase()]);
    }
    return lines;
}

} // namespace velmar
