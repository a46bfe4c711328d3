#include "cli/profile_support.h"

#include "protocol/address_search.h"
#include "protocol/ctrlr_protocol.h"

#include <algorithm>
#include <sstream>

namespace velmar::cli {

namespace {

constexpr int kDefaultFirst = 1;
constexpr int kDefaultLast = 31;
constexpr int kHighestNumber = 255;

std::vector<std::string> SplitList(const std::string& text) {
    std::vector<std::string> items;
    std::istringstream in(text);
    std::string item;
    while (std::getline(in, item, ','))
        if (!item.empty()) items.push_back(item);
    return items;
}

bool Number(const std::string& s, int& out) {
    if (s.empty() || s.size() > 3 || s.find_first_not_of("0123456789") != std::string::npos)
        return false;
    out = std::stoi(s);
    return out >= 1 && out <= kHighestNumber;
}

} // namespace

bool ParseProfileArgs(const std::vector<std::string>& args, const char* usage, ProfileArgs& out) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const std::string key = a.substr(0, a.find('='));
        auto value = [&](std::string& v) {
            if (a.find('=') != std::string::npos) {
                v = a.substr(a.find('=') + 1);
            } else if (i + 1 < args.size()) {
                v = args[++i];
            } else {
                Fail(kExitUsage, "Параметру " + key + " нужно значение");
                return false;
            }
            if (!v.empty()) return true;
            Fail(kExitUsage, "Пустое значение параметра " + key);
            return false;
        };
        std::string v;
        if (a == "--dry-run") {
            out.dryRun = true;
        } else if (a == "--rollback") {
            out.rollback = true;
        } else if (key == "--metrological" || key == "--records" || key == "--fields") {
            if (!value(v)) return false;
            auto& list = key == "--metrological" ? out.metrological
                         : key == "--records"    ? out.records
                                                 : out.fields;
            for (const std::string& item : SplitList(v)) list.push_back(item);
        } else if (key == "--from-image") {
            if (!value(out.fromImage)) return false;
        } else if (key == "--backup-dir") {
            if (!value(out.backupDir)) return false;
        } else if (key == "--name") {
            if (!value(out.name)) return false;
        } else if (a.size() > 1 && a[0] == '-') {
            Fail(kExitUsage, "Неизвестный параметр: " + a + ". Использование: " + usage);
            return false;
        } else {
            out.positional.push_back(a);
        }
    }
    return true;
}

std::vector<std::string> PositionalArgs(const std::vector<std::string>& args) {
    static const char* const kValued[] = {"--metrological", "--records",    "--fields",
                                          "--from-image",   "--backup-dir", "--name"};
    std::vector<std::string> out;
    for (size_t i = 0; i < args.size(); ++i) {
        if (std::find(std::begin(kValued), std::end(kValued), args[i]) != std::end(kValued)) {
            ++i;
            continue;
        }
        if (args[i].empty() || args[i][0] != '-') out.push_back(args[i]);
    }
    return out;
}

int LoadProfile(const std::string& path, const ProfileReadOptions& options, Profile& profile) {
    ProfileError error;
    if (ReadProfile(path, options, profile, error)) return kExitOk;
    return Fail(kExitFile, "Профиль не принят: " + ProfileErrorText(error));
}

bool ParseRange(const std::vector<std::string>& args, size_t from, int& first, int& last) {
    first = kDefaultFirst;
    last = kDefaultLast;
    if (args.size() > from + 2) return false;
    if (args.size() > from && !Number(args[from], first)) return false;
    if (args.size() > from + 1 && !Number(args[from + 1], last)) return false;
    if (args.size() == from + 1) last = std::max(first, last);
    return first <= last;
}

std::vector<int> AnsweringNumbers(Context& ctx, int first, int last) {
    std::vector<int> found;
    AddressSearch search(ctx.slot, ctx.thorough);
    auto take = [&](const SearchResult& r) {
        if (r.answer == SearchAnswer::Answered) found.push_back(r.number);
    };
    for (int n = first; n <= last; ++n) {
        if (n == kReserveAddress && !ctx.reserve) continue;
        for (const SearchResult& r : search.Poll(n)) take(r);
    }
    for (const SearchResult& r : search.Settle()) take(r);
    std::sort(found.begin(), found.end());
    return found;
}

} // namespace velmar::cli
