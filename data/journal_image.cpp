#include "data/journal_image.h"

#include <algorithm>

namespace velmar {

namespace {

bool SameRecord(const ImageRecord& a, const ImageRecord& b) {
    return a.kind == b.kind && a.address == b.address;
}

template <class R> std::vector<uint8_t> ReadCopy(const HeldRecord<R>& held) {
    if (!held.wasRead) return {};
    return std::vector<uint8_t>(held.read.data(), held.read.data() + held.read.size());
}

} // namespace

std::vector<JournalEntry> ImageLoadEntries(const JournalContext& context,
                                           const std::vector<uint8_t>& image,
                                           const ImageWriteReport& report, const SizesRecord& sizes,
                                           const OldRecordFn& old) {
    std::vector<JournalEntry> out;
    if (image.size() < len::kSizes) return out;
    const char* outcome = report.notWritten.empty() ? kOutcomeWritten : kOutcomePartial;
    size_t pos = len::kSizes;
    for (const ImageRecord& rec : ImageRecords(image.data())) {
        const size_t at = pos;
        pos += static_cast<size_t>(rec.length);
        if (std::none_of(report.written.begin(), report.written.end(),
                         [&](const ImageRecord& w) { return SameRecord(w, rec); }))
            continue;
        const int length = static_cast<int>(
            std::min(image.size() - std::min(image.size(), at), static_cast<size_t>(rec.length)));
        if (length <= 0) continue;
        const std::vector<uint8_t> before = old ? old(rec) : std::vector<uint8_t>{};
        const bool known = static_cast<int>(before.size()) >= length;
        auto entries = RecordChangeEntries(context, rec.address, 0, known ? before.data() : nullptr,
                                           length, image.data() + at, length, sizes, outcome);
        out.insert(out.end(), std::make_move_iterator(entries.begin()),
                   std::make_move_iterator(entries.end()));
    }
    return out;
}

OldRecordFn ModelReadCopies(const ControllerModel& model) {
    return [&model](const ImageRecord& rec) -> std::vector<uint8_t> {
        const RecordPlace place = PlaceOfAddress(rec.address, 0);
        if (!place.kind) return {};
        switch (*place.kind) {
        case RecordKind::Params:
            return ReadCopy(model.Params());
        case RecordKind::MakeBlock:
            return ReadCopy(model.Make());
        case RecordKind::TempTable:
            return ReadCopy(model.Temperatures());
        case RecordKind::ChannelSetts:
            return ReadCopy(model.Setts(place.index));
        case RecordKind::ChannelRegs:
            return ReadCopy(model.Regs(place.index));
        case RecordKind::SideState:
            return ReadCopy(model.Side(place.index));
        default:
            return {};
        }
    };
}

} // namespace velmar
