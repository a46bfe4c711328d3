#include "data/image_write_report.h"

#include "data/memory_map.h"

#include <cstdio>

namespace velmar {

namespace {

std::string Hex(int address) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%04X", static_cast<unsigned>(address));
    return text;
}

// 1-based channel number of a per-channel record.
int ChannelOf(const ImageRecord& r) {
    return (r.address & 0x0F00) / 0x100 + 1;
}

bool PerChannel(RecordKind kind) {
    return kind == RecordKind::ChannelSetts || kind == RecordKind::ChannelRegs;
}

std::string Names(const std::vector<ImageRecord>& records) {
    std::string text;
    auto add = [&text](const std::string& name) { text += (text.empty() ? "" : ", ") + name; };
    for (size_t i = 0; i < records.size();) {
        const ImageRecord& r = records[i];
        if (PerChannel(r.kind)) {
            // A run of channels of one kind: "регистры каналов 5–16".
            size_t j = i + 1;
            while (j < records.size() && records[j].kind == r.kind &&
                   ChannelOf(records[j]) == ChannelOf(records[j - 1]) + 1)
                ++j;
            const bool setts = r.kind == RecordKind::ChannelSetts;
            const int first = ChannelOf(r), last = ChannelOf(records[j - 1]);
            if (first == last)
                add(std::string(setts ? "настройки" : "регистры") + " канала " +
                    std::to_string(first));
            else
                add(std::string(setts ? "настройки" : "регистры") + " каналов " +
                    std::to_string(first) + "–" + std::to_string(last));
            i = j;
            continue;
        }
        switch (r.kind) {
        case RecordKind::Params:
            add("параметры контроллера");
            break;
        case RecordKind::SideState:
            add(std::string("состояние стороны ") + (r.address == addr::kSideStateA ? "А" : "Б"));
            break;
        case RecordKind::MakeBlock:
            add("настройки марки ТРК (" + Hex(r.address) + ")");
            break;
        default:
            add("блок " + Hex(r.address));
            break;
        }
        ++i;
    }
    return text;
}

} // namespace

std::string ImageWriteFailureText(const ImageWriteReport& report) {
    if (!report.anythingSent)
        return "Образ не записан в контроллер; контроллер не изменен. Проверьте связь и загрузите "
               "образ еще раз.";
    std::string text = "Образ записан в контроллер не полностью.\n";
    text += "Записаны: " + (report.written.empty() ? "ничего" : Names(report.written)) + ".\n";
    if (!report.notWritten.empty()) {
        text += "Не записаны: " + Names(report.notWritten) + ".\nНа первой из них («" +
                Names({report.notWritten.front()}) +
                "») запись прервалась: часть ее могла уже записаться.\n";
    }
    text += "Пока образ не загружен еще раз, контроллер содержит смесь двух образов: записанные "
            "части нового и прежние остальные. Загрузите тот же образ в контроллер еще раз.";
    return text;
}

} // namespace velmar
