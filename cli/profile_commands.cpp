// Configuration profiles on the command line: making one from a controller or a saved image,
// and checking the controllers of a line (or their latest backups) against one.
#include "base/atomic_file.h"
#include "cli/backup_manifest.h"
#include "cli/backup_run_folders.h"
#include "cli/cli_command.h"
#include "cli/json_output.h"
#include "cli/profile_support.h"
#include "cli/terminal_progress.h"
#include "data/device_image.h"
#include "data/image_file.h"
#include "data/live_store.h"
#include "data/profile_apply.h"
#include "data/profile_image.h"

#include <iostream>
#include <unistd.h>

namespace velmar::cli {
namespace {

constexpr const char* kProfileUsage =
    "profile make ФАЙЛ [--records ЗАПИСИ|--fields ПОЛЯ] [--from-image ОБРАЗ] [--name ИМЯ] "
    "[--metrological ПОЛЯ]  профиль настроек из контроллера или образа";
constexpr const char* kCheckUsage =
    "check ПРОФИЛЬ [КАТАЛОГ | ПЕРВЫЙ [ПОСЛЕДНИЙ]]  соответствие контроллеров линии (или их "
    "последних копий в КАТАЛОГ) профилю";

int Usage(const char* usage) {
    return Fail(kExitUsage, std::string("Использование: ") + usage);
}

ProfileReadOptions Confirmations(const ProfileArgs& a) {
    ProfileReadOptions options;
    options.metrological = a.metrological;
    return options;
}

bool MakesFromImage(const std::vector<std::string>& args) {
    for (const std::string& arg : args)
        if (arg == "--from-image" || arg.rfind("--from-image=", 0) == 0) return true;
    return false;
}

int ProfileMake(Context& ctx, const ProfileArgs& a) {
    if (a.positional.size() != 2) return Usage(kProfileUsage);
    const std::string& path = a.positional[1];
    std::vector<uint8_t> image;
    std::string error;
    if (!a.fromImage.empty()) {
        if (OpenImageFile(a.fromImage, image, &error) != ImageLoadResult::Loaded)
            return Fail(kExitFile, error);
    } else {
        if (ctx.store->IsDemo())
            return Fail(kExitUsage, "В демонстрационном режиме укажите --from-image");
        ImageSaveResult r{};
        {
            TerminalProgress bar("Чтение образа");
            r = ReadDeviceImage(*ctx.store, image, bar.Callback(), &error);
        }
        if (r != ImageSaveResult::Saved) return Fail(kExitNoAnswer, error);
    }
    std::string name = a.name;
    if (name.empty()) {
        name = path.substr(path.find_last_of('/') + 1);
        name = name.substr(0, name.rfind('.'));
    }
    Profile made;
    if (!MakeProfile(image, {a.records, a.fields}, name, made, error))
        return Fail(kExitUsage, error);
    // What is written is what apply will read: the same checks, before the file exists.
    const std::string text = ProfileText(made);
    Profile checked;
    ProfileError refusal;
    if (!ParseProfile(text, path, Confirmations(a), checked, refusal) ||
        !CheckProfileSizes(checked, path, image.data(), refusal))
        return Fail(kExitFile, "Профиль не создан: " + ProfileErrorText(refusal));
    if (WriteFileAtomically(path, reinterpret_cast<const uint8_t*>(text.data()), text.size(),
                            &error) != 0)
        return Fail(kExitFile, path + ": " + error);
    if (ctx.json)
        PrintJson({{"file", path}, {"name", checked.name}, {"fields", checked.entries.size()}});
    else
        std::cout << "Профиль «" << checked.name << "» записан в " << path << ": полей "
                  << checked.entries.size() << '\n';
    return kExitOk;
}

int ProfileCommand(Context& ctx, const std::vector<std::string>& args) {
    ProfileArgs a;
    if (!ParseProfileArgs(args, kProfileUsage, a)) return kExitUsage;
    if (a.positional.empty() || a.positional[0] != "make") return Usage(kProfileUsage);
    return ProfileMake(ctx, a);
}

// One controller's result of a check.
struct Checked {
    int number = 0;
    std::string status; // complies, deviates, failed, other-family, bad-backup
    std::string detail;
    std::vector<ProfileDeviation> deviations;
};

std::string CheckLine(const ProfileDeviation& d) {
    return d.record + ": " + d.caption + ": " + d.now + " (в профиле " + d.wanted + ")";
}

int Report(const Context& ctx, const Profile& profile, const std::string& source,
           const std::vector<Checked>& results) {
    int code = kExitOk;
    Json list = Json::array();
    for (const Checked& c : results) {
        if (c.status != "complies") code = kExitNoAnswer;
        if (c.status == "bad-backup" && code == kExitNoAnswer) code = kExitFile;
        Json fields = Json::array();
        for (const ProfileDeviation& d : c.deviations)
            fields.push_back({{"record", d.record},
                              {"field", d.entry->field},
                              {"caption", d.caption},
                              {"value", d.now},
                              {"profile", d.wanted}});
        Json item = {{"number", c.number}, {"status", c.status}};
        if (!c.detail.empty()) item["detail"] = c.detail;
        item["fields"] = std::move(fields);
        list.push_back(std::move(item));
        if (ctx.json) continue;
        std::cout << "Трк №" << c.number << ": "
                  << (c.status == "complies"   ? "соответствует профилю"
                      : c.status == "deviates" ? "отличается от профиля"
                      : c.status == "failed"   ? "не считан"
                                               : "не проверен")
                  << (c.detail.empty() ? "" : " (" + c.detail + ")") << '\n';
        for (const ProfileDeviation& d : c.deviations) std::cout << "    " << CheckLine(d) << '\n';
    }
    if (results.empty()) code = kExitNoAnswer;
    if (ctx.json)
        PrintJson({{"profile", profile.name},
                   {"source", source},
                   {"comply", code == kExitOk},
                   {"controllers", std::move(list)}});
    else if (results.empty())
        std::cout << "Нет контроллеров для проверки\n";
    return code;
}

int CheckBackups(Context& ctx, const Profile& profile, const std::string& profilePath,
                 std::string dir) {
    if (::access((dir + "/" + kManifestName).c_str(), F_OK) != 0)
        dir += "/" + std::string(kLatestName);
    BackupManifest manifest;
    std::string error;
    if (!ReadManifest(dir, manifest, error)) return Fail(kExitFile, error);
    std::vector<Checked> results;
    for (const BackupEntry& e : manifest.controllers) {
        if (!e.saved) continue;
        Checked c;
        c.number = e.number;
        std::vector<uint8_t> image;
        ProfileError refusal;
        if (OpenImageFile(dir + "/" + e.file, image, &error) != ImageLoadResult::Loaded) {
            c.status = "bad-backup";
            c.detail = error;
        } else if (!CheckProfileSizes(profile, profilePath, image.data(), refusal)) {
            c.status = "other-family";
            c.detail = refusal.text;
        } else {
            c.deviations = CompareImage(profile, image);
            c.status = c.deviations.empty() ? "complies" : "deviates";
        }
        results.push_back(std::move(c));
    }
    return Report(ctx, profile, dir, results);
}

int CheckLine(Context& ctx, const Profile& profile, const std::string& profilePath, int first,
              int last) {
    std::vector<Checked> results;
    std::vector<int> sideB; // the second sides of the controllers met: no controllers of their own
    for (int n : AnsweringNumbers(ctx, first, last)) {
        if (std::find(sideB.begin(), sideB.end(), n) != sideB.end()) continue;
        Checked c;
        c.number = n;
        int ctrl = n;
        LiveRecordStore store(ctx.slot, ctrl);
        ProfileTarget target;
        ProfileError refusal;
        if (ReadProfileTarget(store, profile, target) != ReadResult::Read) {
            c.status = "failed";
            c.detail = "ошибка чтения";
        } else if (!CheckProfileSizes(profile, profilePath, target.header.data(), refusal)) {
            c.status = "other-family";
            c.detail = refusal.text;
        } else {
            c.deviations = target.changes;
            c.status = c.deviations.empty() ? "complies" : "deviates";
        }
        const CtrlrParams& p = target.model.Params().read;
        if (target.model.Params().wasRead && p.CountSideTrk() == 2) sideB.push_back(p.AdrTrk_2());
        results.push_back(std::move(c));
    }
    PrintRetriedRequests(ctx);
    return Report(ctx, profile, ctx.portName, results);
}

bool ChecksBackups(const std::vector<std::string>& all) {
    const std::vector<std::string> args = PositionalArgs(all);
    for (size_t i = 1; i < args.size(); ++i)
        if (!args[i].empty() && args[i][0] != '-' &&
            args[i].find_first_not_of("0123456789") != std::string::npos)
            return true;
    return false;
}

int Check(Context& ctx, const std::vector<std::string>& args) {
    ProfileArgs a;
    if (!ParseProfileArgs(args, kCheckUsage, a)) return kExitUsage;
    if (a.positional.empty() || a.positional.size() > 3) return Usage(kCheckUsage);
    // Comparing writes nothing: metrological fields need no confirmation here.
    ProfileReadOptions options = Confirmations(a);
    options.requireMetrological = false;
    Profile profile;
    if (const int code = LoadProfile(a.positional[0], options, profile); code != kExitOk)
        return code;
    if (ChecksBackups(args)) {
        if (a.positional.size() != 2) return Usage(kCheckUsage);
        return CheckBackups(ctx, profile, a.positional[0], a.positional[1]);
    }
    if (ctx.store->IsDemo())
        return Fail(kExitUsage, "В демонстрационном режиме укажите каталог копий");
    int first = 0, last = 0;
    if (!ParseRange(a.positional, 1, first, last)) return Usage(kCheckUsage);
    return CheckLine(ctx, profile, a.positional[0], first, last);
}

[[maybe_unused]] const bool kRegistered =
    RegisterCommand({"profile", kProfileUsage, ProfileCommand}) &&
    RegisterOffline("profile", MakesFromImage) && RegisterCommand({"check", kCheckUsage, Check}) &&
    RegisterOffline("check", ChecksBackups);

} // namespace
} // namespace velmar::cli
