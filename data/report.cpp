#include "data/report.h"

#include "data/memory_map.h"

#include <algorithm>
#include <cstring>

namespace velmar {

namespace {

// A read lands in a scratch buffer larger than any record (the parameter block is self-sized,
// the demo image returns 256 bytes for the MakeBlock); only the record's own length is kept.
constexpr int kScratch = 256;

bool ReadInto(RecordStore& store, int address, int length, DeviceBuffer& buffer, int offset,
              int keep) {
    uint8_t scratch[kScratch] = {};
    const int got = store.Read(address, length, scratch, 0).Length();
    if (got <= 0) return false;
    std::memcpy(buffer.data() + offset, scratch, static_cast<size_t>(std::min(got, keep)));
    return got >= keep;
}

struct BitLine {
    int byte;
    uint8_t mask;
    const char* text;
};

constexpr BitLine kModeLines[] = {
    {30, 0x01, "Инверсный датчик раздаточного крана"},
    {30, 0x02, "Старт от изменения положения датчика раздаточного крана"},
    {30, 0x04, "Включено управление с БМУ"},
    {30, 0x08, "2 клавиатуры БМУ на одну сторону"},
    {30, 0x10, "Разрешен отпуск заданной с БМУ дозы системой управления"},
    {30, 0x20, "Строгий режим контроля двухфазного датчика"},
    {30, 0x40, "Автоматический пуск ТРК при снятии раздаточного крана"},
    {30, 0x80, "Делить сумму на 10 при выводе на табло с малым числом индикаторов суммы"},
    {31, 0x02, "Сокращенная разрядность(для топаза)"},
    {31, 0x04, "Разрешен отпуск топлива после того как раздаточный кран повешен"},
    {31, 0x08, "Использовать ключ юстировки на ТРК"},
    {31, 0x10, "Округлять сумму до заданной"},
    {31, 0x40, "Использовать второй канал 485 для управления табло"},
    {31, 0x80, "Режи работы - Север"},
};

struct FlagLine {
    uint16_t flag;
    const char* text;
};

// 0x0004 gives two lines, as the status list of the main window shows it twice.
constexpr FlagLine kFlagLines[] = {
    {0x0008, "Раздаточный кран снят"},
    {0x0080, "Канал активирован"},
    {0x0100, "Отпуск приостановлен"},
    {0x0200, "Управляется БМУ"},
    {0x1000, "Доза задана по протоколу Нара"},
    {0x0800, "Идет отпуск в мерник"},
    {0x0004, "Ошибка питания"},
    {0x0004, "Авария датчика"},
    {0x2000, "Доза продолжается"},
    {0x4000, "Отображать отпуск полный бак"},
};

std::string SpeedText(int index) {
    static const char* const kTexts[] = {"38400", "19200", "9600", "4800"};
    return index >= 0 && index < 4 ? kTexts[index] : "";
}

std::string MeterTypeText(int type) {
    switch (type) {
    case 0:
        return "100 импульсов";
    case 1:
        return "256 импульсов";
    case 2:
        // A 132-pulse meter is a type of its own, not a manual setting.
        return "132 импульса";
    default:
        return "ручная настройка";
    }
}

std::string PhaseText(int phase) {
    switch (phase) {
    case 0:
        return "Одна фаза с пересчетом по первой фазе";
    case 1:
        return "Две фазы";
    case 2:
        return "Одна фаза с пересчетом по второй фазе";
    default:
        return "Ручная настройка";
    }
}

std::string Num(long long v) {
    return std::to_string(v);
}

} // namespace

namespace {

struct ReportRecord {
    int address;
    int length; // as asked; -1 is the self-sized parameter block
    int offset;
    int keep;
};

ReportRecord RecordAt(int index) {
    if (index == 0)
        return {addr::kParamsLength, -1, DeviceBuffer::kParamsOffset, params::kUsualLength};
    if (index <= kChannelCount) {
        const int n = index - 1;
        return {ChannelAddress(addr::kChannelSettsBase, n), setts::kLength,
                DeviceBuffer::SettsOffset(n), setts::kLength};
    }
    switch (index - kChannelCount - 1) {
    case 0:
        return {addr::kSideStateA, side::kLength, DeviceBuffer::SideStateOffset(0), side::kLength};
    case 1:
        return {addr::kSideStateB, side::kLength, DeviceBuffer::SideStateOffset(1), side::kLength};
    case 2:
        return {addr::kMakeBlock, make::kLength, DeviceBuffer::kMakeOffset, make::kLength};
    default:
        break;
    }
    const int n = index - kChannelCount - 4;
    return {ChannelAddress(addr::kChannelRegsBase, n), regs::kLength, DeviceBuffer::RegsOffset(n),
            regs::kLength};
}

} // namespace

bool ReadReportRecord(RecordStore& store, DeviceBuffer& buffer, int index) {
    if (index < 0 || index >= kReportRecordCount) return false;
    const ReportRecord r = RecordAt(index);
    return ReadInto(store, r.address, r.length, buffer, r.offset, r.keep);
}

std::string ReportRecordName(int index) {
    if (index == 0) return "параметры контроллера";
    if (index <= kChannelCount) return "настройки канала " + Num(index);
    switch (index - kChannelCount - 1) {
    case 0:
        return "состояние стороны А";
    case 1:
        return "состояние стороны Б";
    case 2:
        return "настройки НАРА_АЗС";
    default:
        return "регистры канала " + Num(index - kChannelCount - 3);
    }
}

std::vector<std::string> UnreadRecordLines(const std::vector<int>& unread) {
    std::vector<std::string> lines;
    if (unread.empty()) return lines;
    lines.emplace_back("Не считаны из контроллера (в отчете показаны нулями):");
    for (const int index : unread) lines.push_back("    " + ReportRecordName(index));
    return lines;
}

int FillReportBuffer(RecordStore& store, DeviceBuffer& buffer,
                     const std::function<void(int done, int total)>& progress) {
    buffer = DeviceBuffer{};
    int failed = 0;
    for (int index = 0; index < kReportRecordCount; ++index) {
        if (!ReadReportRecord(store, buffer, index)) ++failed;
        if (progress) progress(index + 1, kReportRecordCount);
    }
    return failed;
}

std::vector<std::string> ReportLines(const DeviceBuffer& buffer, int ctrlrAddress, bool extended) {
    const CtrlrParams p = buffer.Params();
    const int sides = p.CountSideTrk();
    const int nozzles = p.CountNozTrk();
    std::vector<std::string> lines;
    lines.push_back("\tТрк №" + Num(ctrlrAddress));
    lines.emplace_back();
    lines.push_back("Адрес стороны А - " + Num(p.AdrTrk_1()));
    lines.push_back("Адрес стороны Б - " + Num(p.AdrTrk_2()));
    lines.push_back("Скорость обмена - " + SpeedText(p.SpeedTrk()));
    lines.push_back("Количество сторон - " + Num(sides));
    lines.push_back("Количество РК - " + Num(nozzles));
    lines.push_back("Тип датчика - " + MeterTypeText(p.MeterType()));
    lines.push_back("Фазы датчика - " + PhaseText(p.PhaseMet()));
    lines.push_back("Компенсация раздутия шланга = " + Num(p.NozzleFat() * 10));
    lines.push_back("Старт на поджатии = " + Num(p.SlowStart() * 100));
    lines.push_back("Велична долива = " + Num(p.SlowLoad() * 100));
    lines.emplace_back();
    lines.emplace_back();
    lines.emplace_back("\tПараметры контроллера(расшифровка битовой маски)");
    for (const BitLine& bit : kModeLines) {
        if (buffer.bytes[static_cast<size_t>(bit.byte)] & bit.mask) lines.emplace_back(bit.text);
    }
    lines.emplace_back();
    lines.emplace_back("\tФискальные счетчики.");
    // The buffer holds 16 channels; counts read from a controller may name more.
    for (int i = 0; i < sides; ++i) {
        for (int j = 0; j < nozzles; ++j) {
            const int r = nozzles * i + j;
            if (r >= kChannelCount) break;
            const ChannelRegs regs = buffer.Regs(r);
            lines.push_back(std::string("Фискальный счетчик ") +
                            (i == 0 ? " сторона А, " : " сторона Б, ") + Num(j + 1) + " рукав = " +
                            Num(static_cast<int32_t>(regs.FCount())) + "," + Num(regs.FCMil()));
        }
    }
    if (extended) {
        const int channels = std::min(sides * nozzles, kChannelCount);
        for (int c = 0; c < channels; ++c) {
            const uint16_t flags = buffer.Regs(c).BitStat();
            if (flags == 0) continue;
            lines.emplace_back();
            lines.push_back(c < nozzles ? "Состояние рукава Сторона А №" + Num(c + 1)
                                        : "Состояние рукава Сторона Б №" + Num(c - nozzles + 1));
            for (const FlagLine& f : kFlagLines) {
                if (flags & f.flag) lines.emplace_back(f.text);
            }
        }
    }
    return lines;
}

std::string JoinLines(const std::vector<std::string>& lines, const char* lineEnd) {
    std::string text;
    for (const std::string& line : lines) {
        text += line;
        text += lineEnd;
    }
    return text;
}

} // namespace velmar
