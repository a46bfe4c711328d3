#include "data/ctrlr_params.h"
#include "data/image_file.h"
#include "data/journal_record.h"
#include "data/profile.h"
#include "data/profile_values.h"

#include <algorithm>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string_view>
#include <tuple>

namespace velmar {

namespace {

// The kinds a profile can hold, with how many instances each has.
struct WritableKind {
    RecordKind kind;
    int count;
};
constexpr WritableKind kWritableKinds[] = {
    {RecordKind::Params, 1},
    {RecordKind::MakeBlock, 1},
    {RecordKind::ChannelSetts, kChannelCount},
    {RecordKind::ChannelRegs, kChannelCount},
    {RecordKind::SideState, 2},
};

// Fields that give a controller its place on the line.
constexpr const char* kLineFields[] = {"SpeedTrk", "Speed2CnlTrk", "AdrTrk_1", "AdrTrk_2",
                                       "AdrNaraTrk"};
constexpr const char* kOwnMakeFields[] = {"UpgrCountNara"};

std::string Trim(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

std::string BaseName(const std::string& field) {
    return field.substr(0, field.find('['));
}

std::string ItemName(const CatalogueItem& item) {
    std::string name = item.field->field.name;
    if (item.element >= 0) name += "[" + std::to_string(item.element) + "]";
    return name;
}

// The file name without its folder and suffix.
std::string Stem(const std::string& path) {
    std::string name = path.substr(path.find_last_of('/') + 1);
    const size_t dot = name.rfind('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

struct RecordRef {
    RecordKind kind;
    int index;
};

bool FindRecord(const std::string& title, RecordRef& ref) {
    // A channel's hose in brackets depends on the topology: the channel number names it.
    std::string bare = title;
    if (const size_t bracket = bare.find(" ("); bracket != std::string::npos)
        bare = bare.substr(0, bracket);
    for (const WritableKind& w : kWritableKinds)
        for (int i = 0; i < w.count; ++i)
            if (bare == ProfileRecordTitle(w.kind, i)) {
                ref = {w.kind, i};
                return true;
            }
    return false;
}

bool Confirmed(const ProfileReadOptions& options, const std::string& field) {
    return std::any_of(
        options.metrological.begin(), options.metrological.end(),
        [&](const std::string& m) { return m == "*" || m == field || m == BaseName(field); });
}

class Parser {
  public:
    Parser(const std::string& file, const ProfileReadOptions& options, Profile& profile,
           ProfileError& error)
        : file_(file), options_(options), profile_(profile), error_(error) {}

    bool Run(const std::string& text) {
        profile_ = Profile{};
        profile_.name = Stem(file_);
        // An editor may put a byte order mark in front of the first line.
        constexpr std::string_view kBom = "\xEF\xBB\xBF";
        std::istringstream in(text.rfind(kBom, 0) == 0 ? text.substr(kBom.size()) : text);
        std::string raw;
        while (std::getline(in, raw)) {
            ++line_;
            const std::string l = Trim(raw);
            if (l.empty() || l[0] == '#') continue;
            if (!Line(l)) return false;
        }
        if (!sizesSeen_)
            return Refuse(ProfileRefusal::Syntax, 0, {},
                          std::string("нет строки «") + kProfileSizesKey + " = ...»");
        return true;
    }

  private:
    bool Refuse(ProfileRefusal reason, int line, const std::string& field,
                const std::string& text) {
        error_ = {reason, file_, line, field, text};
        return false;
    }

    bool Line(const std::string& l) {
        if (l.front() == '[') {
            if (l.back() != ']') return Refuse(ProfileRefusal::Syntax, line_, {}, "нет «]»");
            const std::string title = Trim(l.substr(1, l.size() - 2));
            if (!FindRecord(title, record_))
                return Refuse(ProfileRefusal::UnknownField, line_, {},
                              "нет такой записи: «" + title + "»");
            inRecord_ = true;
            return true;
        }
        const size_t eq = l.find('=');
        if (eq == std::string::npos)
            return Refuse(ProfileRefusal::Syntax, line_, {}, "ожидается «поле = значение»");
        const std::string key = Trim(l.substr(0, eq));
        const std::string value = Trim(l.substr(eq + 1));
        if (!inRecord_) return Header(key, value);
        return FieldLine(key, value);
    }

    bool Header(const std::string& key, const std::string& value) {
        if (key == kProfileNameKey) {
            if (!value.empty()) profile_.name = value;
            return true;
        }
        if (key != kProfileSizesKey)
            return Refuse(ProfileRefusal::Syntax, line_, {},
                          "до первой записи допустимы только «" + std::string(kProfileNameKey) +
                              "» и «" + kProfileSizesKey + "»");
        std::istringstream in(value);
        for (int& size : profile_.sizes)
            if (!(in >> size) || size < 0 || size > 0xFF)
                return Refuse(ProfileRefusal::Syntax, line_, {},
                              "ожидаются пять размеров записей, 0..255");
        std::string rest;
        if (in >> rest)
            return Refuse(ProfileRefusal::Syntax, line_, {},
                          "ожидаются пять размеров записей, 0..255");
        sizesSeen_ = true;
        return true;
    }

    bool FieldLine(const std::string& key, const std::string& value) {
        std::string name = key;
        std::string caption;
        if (key.back() == ')') {
            const size_t open = key.rfind('(');
            if (open == std::string::npos)
                return Refuse(ProfileRefusal::Syntax, line_, {}, "нет «(» перед именем поля");
            name = Trim(key.substr(open + 1, key.size() - open - 2));
            caption = Trim(key.substr(0, open));
        }
        const CatalogueItem* item = nullptr;
        for (const CatalogueItem& i : items(record_.kind))
            if (ItemName(i) == name) item = &i;
        if (item == nullptr || name == params::kKsm.name)
            return Refuse(ProfileRefusal::UnknownField, line_, name,
                          "нет такого поля в записи «" +
                              ProfileRecordTitle(record_.kind, record_.index) + "»");
        // The physical map's captions follow the topology; its names do not.
        if (!caption.empty() && caption != item->caption && item->field->split != Split::SideMap)
            return Refuse(ProfileRefusal::UnknownField, line_, name,
                          "подпись «" + caption + "» не подпись этого поля («" + item->caption +
                              "»)");
        if (!seen_.insert({static_cast<int>(record_.kind), record_.index, name}).second)
            return Refuse(ProfileRefusal::Syntax, line_, name, "поле указано дважды");
        ProfileEntry e{record_.kind, record_.index, name, *item, value, 0, line_};
        std::string why;
        if (value.empty() || !ParseItemValue(*item, value, e.bits, why))
            return Refuse(ProfileRefusal::BadValue, line_, name,
                          "«" + value + "»: " + (value.empty() ? "нет значения" : why) + " «" +
                              item->caption + "»");
        if (options_.requireMetrological &&
            IsMetrologicalField(RecordKindName(record_.kind), name) && !Confirmed(options_, name))
            return Refuse(ProfileRefusal::Metrological, line_, name,
                          "метрологическое поле «" + item->caption +
                              "»: запись только с подтверждением --metrological " + BaseName(name));
        profile_.entries.push_back(std::move(e));
        return true;
    }

    // The items of a kind, kept for the profile's lifetime: entries point at their fields.
    const std::vector<CatalogueItem>& items(RecordKind kind) {
        auto& list = items_[static_cast<int>(kind)];
        if (list.empty()) list = CatalogueItems(kind);
        return list;
    }

    const std::string& file_;
    const ProfileReadOptions& options_;
    Profile& profile_;
    ProfileError& error_;
    int line_ = 0;
    bool sizesSeen_ = false;
    bool inRecord_ = false;
    RecordRef record_{RecordKind::Params, 0};
    std::set<std::tuple<int, int, std::string>> seen_;
    std::map<int, std::vector<CatalogueItem>> items_;
};

} // namespace

ProfileSizes SizesOfHeader(const uint8_t header[7]) {
    ProfileSizes sizes{};
    for (int i = 0; i < kProfileSizeCount; ++i)
        sizes[static_cast<size_t>(i)] = header[kProfileSizeBytes[i]];
    return sizes;
}

std::string ProfileErrorText(const ProfileError& error) {
    std::string text = error.file;
    if (error.line > 0) text += ":" + std::to_string(error.line);
    text += ": ";
    if (!error.field.empty()) text += error.field + ": ";
    return text + error.text;
}

bool ParseProfile(const std::string& text, const std::string& file,
                  const ProfileReadOptions& options, Profile& profile, ProfileError& error) {
    return Parser(file, options, profile, error).Run(text);
}

bool ReadProfile(const std::string& path, const ProfileReadOptions& options, Profile& profile,
                 ProfileError& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = {ProfileRefusal::CannotOpen, path, 0, {}, "не удается открыть файл профиля"};
        return false;
    }
    std::stringstream text;
    text << in.rdbuf();
    return ParseProfile(text.str(), path, options, profile, error);
}

bool CheckProfileSizes(const Profile& profile, const std::string& file, const uint8_t header[7],
                       ProfileError& error) {
    const ProfileSizes theirs = SizesOfHeader(header);
    if (theirs != profile.sizes) {
        auto text = [](const ProfileSizes& s) {
            std::string t;
            for (int v : s) t += (t.empty() ? "" : " ") + std::to_string(v);
            return t;
        };
        error = {ProfileRefusal::OtherSizes,
                 file,
                 0,
                 {},
                 "профиль для контроллеров с размерами записей " + text(profile.sizes) +
                     ", а у контроллера " + text(theirs) + ": другое семейство контроллеров"};
        return false;
    }
    for (const ProfileEntry& e : profile.entries) {
        const auto span = FindImageSpan(header, e.kind, e.index);
        // The parameter block ends in its checksum: no field lies there.
        const int length = !span ? 0 : span->length - (e.kind == RecordKind::Params ? 1 : 0);
        if (e.item.offset + e.item.width > length) {
            error = {ProfileRefusal::UnknownField, file, e.line, e.field,
                     "поля нет в записи «" + ProfileRecordTitle(e.kind, e.index) +
                         "» этого контроллера"};
            return false;
        }
    }
    return true;
}

std::string ProfileText(const Profile& profile) {
    std::string text = "# Профиль настроек Velmar. Строка поля: Подпись (Имя) = значение, как на "
                       "экранах.\n# Размеры записей: параметры, настройки канала, доп. блок, "
                       "состояние канала, состояние стороны.\n";
    text += std::string(kProfileNameKey) + " = " + profile.name + "\n";
    text += kProfileSizesKey + std::string(" =");
    for (int v : profile.sizes) text += " " + std::to_string(v);
    text += "\n";
    const ProfileEntry* last = nullptr;
    for (const ProfileEntry& e : profile.entries) {
        if (last == nullptr || last->kind != e.kind || last->index != e.index)
            text += "\n[" + ProfileRecordTitle(e.kind, e.index) + "]\n";
        text += e.item.caption + " (" + e.field + ") = " + e.value + "\n";
        last = &e;
    }
    return text;
}

bool IsIdentityField(RecordKind kind, const std::string& field) {
    const std::string base = BaseName(field);
    auto among = [&](const auto& names) {
        return std::any_of(std::begin(names), std::end(names),
                           [&](const char* n) { return base == n; });
    };
    switch (kind) {
    case RecordKind::Params:
        return among(kLineFields);
    case RecordKind::MakeBlock:
        return among(kOwnMakeFields);
    case RecordKind::ChannelRegs:
    case RecordKind::SideState:
        return true; // totalisers, prices, doses, counts and dates: the controller's own record
    default:
        return false;
    }
}

std::string ProfileRecordTitle(RecordKind kind, int index) {
    return RecordTitle(kind, index, 0, 0);
}

} // namespace velmar
