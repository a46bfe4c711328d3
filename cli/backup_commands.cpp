// Whole-station backup: every controller that answers on the line saved into one directory with
// a manifest, and the check of a backup against the controllers as they are now.
#include "cli/cli_command.h"
#include "cli/json_output.h"
#include "cli/terminal_progress.h"
#include "data/backup_manifest.h"
#include "data/backup_run_folders.h"
#include "data/image_diff.h"
#include "data/memory_map.h"
#include "data/station_backup.h"

#include <algorithm>
#include <iostream>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace velmar::cli {
namespace {

constexpr const char* kBackupUsage =
    "backup КАТАЛОГ [ПЕРВЫЙ [ПОСЛЕДНИЙ]]  образы всех ответивших контроллеров (1..31) и "
    "manifest.json в новом подкаталоге КАТАЛОГ/ДАТА-ВРЕМЯ; КАТАЛОГ/latest - последняя полная копия";
constexpr const char* kVerifyUsage =
    "verify КАТАЛОГ        сравнить контроллеры с их копиями в каталоге (или в КАТАЛОГ/latest)";

int Usage(const char* usage) {
    return Fail(kExitUsage, std::string("Использование: ") + usage);
}

bool ParseNumberArg(const std::string& s, int& out) {
    if (s.empty() || s.size() > 3 || s.find_first_not_of("0123456789") != std::string::npos)
        return false;
    out = std::stoi(s);
    return out >= 1 && out <= 255;
}

bool IsDirectory(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// One line of the report on stdout, passed on at once: a watcher of a long backup sees each
// controller as it is done, and a killed run leaves its report up to that point.
void Report(const std::string& text) {
    std::cout << text << '\n';
    std::cout.flush();
}

// The terminal's view of a station backup: a bar per image, a line per controller.
class TerminalWatch : public StationBackupWatch {
  public:
    explicit TerminalWatch(bool json) : json_(json) {}
    void Notes(const std::vector<std::string>& notes) override {
        for (const std::string& note : notes) std::cerr << note << '\n';
    }
    void ImageStarted(int number) override {
        bar_ = std::make_unique<TerminalProgress>("Трк №" + std::to_string(number));
    }
    void ImageProgress(int, int done, int total) override {
        if (bar_) bar_->Update(done, total);
    }
    void ImageEnded(int) override { bar_.reset(); }
    void SecondSide(int number, int sideA) override {
        if (!json_)
            Report("Трк №" + std::to_string(number) + ": вторая сторона контроллера №" +
                   std::to_string(sideA));
    }
    void Taken(const BackupEntry& e) override {
        if (e.saved) {
            if (!json_) Report("Трк №" + std::to_string(e.number) + ": сохранен в " + e.file);
            return;
        }
        if (!json_) std::cout.flush();
        std::cerr << "Трк №" << e.number << ": не сохранен: " << e.reason << std::endl;
    }

  private:
    bool json_;
    std::unique_ptr<TerminalProgress> bar_;
};

int Backup(Context& ctx, const std::vector<std::string>& args) {
    if (ctx.store->IsDemo())
        return Fail(kExitUsage, "Команда backup недоступна в демонстрационном режиме");
    if (args.empty() || args.size() > 3 || args[0].empty()) return Usage(kBackupUsage);
    BackupManifest manifest;
    manifest.first = 1;
    manifest.last = 31;
    if (args.size() > 1 && !ParseNumberArg(args[1], manifest.first)) return Usage(kBackupUsage);
    if (args.size() > 2 && !ParseNumberArg(args[2], manifest.last)) return Usage(kBackupUsage);
    if (args.size() == 2) manifest.last = std::max(manifest.first, manifest.last);
    if (manifest.last < manifest.first) return Usage(kBackupUsage);
    const StationBackupRequest request{args[0],       ctx.portName, manifest.first,
                                       manifest.last, ctx.thorough, ctx.reserve};
    TerminalWatch watch(ctx.json);
    const StationBackupOutcome out = BackupStation(ctx.slot, request, watch);
    if (out.result == StationResult::NoneAnswered)
        return Fail(kExitNoAnswer, "Ни один контроллер не ответил");
    if (out.result == StationResult::FileFailed && !out.error.empty())
        return Fail(kExitFile, out.error);
    int saved = 0;
    for (const BackupEntry& e : out.manifest.controllers) saved += e.saved ? 1 : 0;
    const int failed = static_cast<int>(out.manifest.controllers.size()) - saved;
    if (ctx.json) PrintJson(ManifestToJson(out.manifest));
    if (!ctx.json)
        Report("Сохранено контроллеров: " + std::to_string(saved) + ", не сохранено: " +
               std::to_string(failed) + " (" + request.top + "/" + out.manifest.folder + ")");
    if (out.result == StationResult::Complete) return kExitOk;
    return out.result == StationResult::FileFailed ? kExitFile : kExitNoAnswer;
}

int Verify(Context& ctx, const std::vector<std::string>& args) {
    if (ctx.store->IsDemo())
        return Fail(kExitUsage, "Команда verify недоступна в демонстрационном режиме");
    if (args.size() != 1 || args[0].empty()) return Usage(kVerifyUsage);
    // The top folder of `backup` holds its runs: the last complete one is checked.
    std::string dir = args[0];
    if (::access((dir + "/" + kManifestName).c_str(), F_OK) != 0 &&
        IsDirectory(dir + "/" + kLatestName))
        dir += std::string("/") + kLatestName;
    BackupManifest manifest;
    std::string error;
    if (!ReadManifest(dir, manifest, error)) return Fail(kExitFile, error);
    if (std::none_of(manifest.controllers.begin(), manifest.controllers.end(),
                     [](const BackupEntry& e) { return e.saved; }))
        return Fail(kExitFile, "В копии " + dir + " нет сохраненных образов: проверять нечего");
    // Checked against another line's controllers, every image would be reported as changed.
    if (const std::string refusal = OtherLineRefusal(manifest, dir, ctx.portName); !refusal.empty())
        return Fail(kExitUsage, refusal);

    Json results = Json::array();
    int exitCode = kExitOk;
    for (const BackupEntry& e : manifest.controllers) {
        if (!e.saved) continue;
        Json item = {{"number", e.number}, {"file", e.file}};
        std::string status;
        std::string detail;
        std::vector<std::string> fields;
        VerifyOutcome v;
        {
            TerminalProgress bar("Трк №" + std::to_string(e.number));
            v = VerifyController(ctx.slot, ctx.portName, dir, e, bar.Callback());
        }
        detail = v.detail;
        switch (v.status) {
        case VerifyStatus::BadBackup:
            status = "bad-backup";
            exitCode = kExitFile;
            break;
        case VerifyStatus::Failed:
            status = "failed";
            break;
        case VerifyStatus::Same:
            status = "same";
            break;
        case VerifyStatus::Differs: {
            // Named as `diff` names them: record, the screen's caption, both values.
            status = "differs";
            std::vector<std::string> records;
            for (const ImageDifference& d : v.differences) {
                const std::string address = RecordAddressText(d.address);
                if (records.empty() || records.back() != address) records.push_back(address);
                fields.push_back(DifferenceLine(d));
            }
            item["records"] = records;
            item["fields"] = fields;
            break;
        }
        }
        if (status != "same" && status != "bad-backup" && exitCode == kExitOk)
            exitCode = kExitNoAnswer;
        item["status"] = status;
        if (!detail.empty()) item["detail"] = detail;
        if (!ctx.json) {
            std::cout << "Трк №" << e.number << ": "
                      << (status == "same"      ? "совпадает с копией"
                          : status == "differs" ? "отличается от копии"
                          : status == "failed"  ? "не считан"
                                                : "копия повреждена")
                      << (detail.empty() ? "" : " (" + detail + ")") << '\n';
            for (const std::string& field : fields) std::cout << "    " << field << '\n';
            std::cout.flush();
        }
        results.push_back(std::move(item));
    }
    if (ctx.json) PrintJson({{"dir", dir}, {"controllers", std::move(results)}});
    return exitCode;
}

[[maybe_unused]] const bool kRegistered = RegisterCommand({"backup", kBackupUsage, Backup}) &&
                                          RegisterCommand({"verify", kVerifyUsage, Verify});

} // namespace
} // namespace velmar::cli
