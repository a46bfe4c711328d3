#include "data/profile_image.h"

#include "data/ctrlr_params.h"
#include "data/image_file.h"
#include "data/journal_record.h"
#include "data/profile_values.h"

#include <algorithm>

namespace velmar {

namespace {

constexpr RecordKind kProfileKinds[] = {RecordKind::Params, RecordKind::MakeBlock,
                                        RecordKind::ChannelSetts, RecordKind::ChannelRegs,
                                        RecordKind::SideState};
constexpr int kSideCount = 2;

bool KindByName(const std::string& name, RecordKind& kind) {
    for (RecordKind k : kProfileKinds)
        if (name == RecordKindName(k)) {
            kind = k;
            return true;
        }
    return false;
}

std::string ItemName(const CatalogueItem& item) {
    std::string name = item.field->field.name;
    if (item.element >= 0) name += "[" + std::to_string(item.element) + "]";
    return name;
}

// Instances of `kind` the image's controller uses.
int Instances(RecordKind kind, const uint8_t* header) {
    switch (kind) {
    case RecordKind::ChannelSetts:
    case RecordKind::ChannelRegs:
        return std::clamp(header[1] * header[2], 1, kChannelCount);
    case RecordKind::SideState:
        return std::clamp(static_cast<int>(header[2]), 1, kSideCount);
    default:
        return 1;
    }
}

bool Named(const std::vector<std::string>& names, const std::string& item) {
    return std::any_of(names.begin(), names.end(), [&](const std::string& n) {
        return n == item || n == item.substr(0, item.find('['));
    });
}

} // namespace

bool MakeProfile(const std::vector<uint8_t>& image, const ProfileSelection& selection,
                 const std::string& name, Profile& profile, std::string& why) {
    const uint8_t* header = image.data();
    profile = Profile{};
    profile.name = name;
    profile.sizes = SizesOfHeader(header);
    std::vector<RecordKind> kinds;
    for (const std::string& r : selection.records) {
        RecordKind k{};
        if (!KindByName(r, k)) {
            why = "нет такой записи: " + r +
                  " (Params, MakeBlock, ChannelSetts, ChannelRegs, "
                  "SideState)";
            return false;
        }
        if (std::find(kinds.begin(), kinds.end(), k) == kinds.end()) kinds.push_back(k);
    }
    if (kinds.empty() && selection.fields.empty()) kinds.push_back(RecordKind::Params);
    if (kinds.empty()) kinds.assign(std::begin(kProfileKinds), std::end(kProfileKinds));
    std::vector<bool> used(selection.fields.size(), false);
    const CatalogueTopology topology{header[2], header[1]};
    for (RecordKind kind : kinds) {
        for (int index = 0; index < Instances(kind, header); ++index) {
            const auto span = FindImageSpan(header, kind, index);
            if (!span) continue;
            const uint8_t* record = image.data() + span->offset;
            const int length = span->length - (kind == RecordKind::Params ? 1 : 0);
            for (const CatalogueItem& item : CatalogueItems(kind, topology)) {
                const std::string field = ItemName(item);
                if (field == params::kKsm.name || !ItemWritable(item) ||
                    item.offset + item.width > length)
                    continue;
                if (selection.fields.empty() ? IsIdentityField(kind, field)
                                             : !Named(selection.fields, field))
                    continue;
                for (size_t i = 0; i < selection.fields.size(); ++i)
                    used[i] = used[i] || Named({selection.fields[i]}, field);
                ProfileEntry e{kind, index, field, item, {}, 0, 0};
                e.value = FormatCatalogueValue(item, record, static_cast<size_t>(length));
                e.bits = GetLE(record + item.offset, item.width);
                profile.entries.push_back(std::move(e));
            }
        }
    }
    for (size_t i = 0; i < used.size(); ++i)
        if (!used[i]) {
            why = "нет такого поля в выбранных записях: " + selection.fields[i];
            return false;
        }
    if (profile.entries.empty()) {
        why = "в профиль не попало ни одного поля";
        return false;
    }
    return true;
}

std::string DeviationLine(const ProfileDeviation& d) {
    return d.record + ": " + d.caption + ": " + d.now + " -> " + d.wanted;
}

std::string WantedValue(const ProfileEntry& e, const uint8_t* record, size_t size) {
    std::vector<uint8_t> copy(record, record + size);
    StoreItemValue(e.item, e.bits, copy.data(), copy.size());
    return FormatCatalogueValue(e.item, copy.data(), copy.size());
}

std::vector<ProfileDeviation> CompareImage(const Profile& profile,
                                           const std::vector<uint8_t>& image) {
    std::vector<ProfileDeviation> out;
    const uint8_t* header = image.data();
    for (const ProfileEntry& e : profile.entries) {
        const auto span = FindImageSpan(header, e.kind, e.index);
        if (!span) continue; // CheckProfileSizes refused such a profile
        const uint8_t* record = image.data() + span->offset;
        const size_t size = static_cast<size_t>(span->length);
        if (HoldsItemValue(e.item, e.bits, record, size)) continue;
        out.push_back({&e, RecordTitle(e.kind, e.index, header[2], header[1]), e.item.caption,
                       FormatCatalogueValue(e.item, record, size), WantedValue(e, record, size)});
    }
    return out;
}

} // namespace velmar
