// Whole-station backup: every controller that answers on the line saved into one directory with
// a manifest, and the check of a backup against the controllers as they are now.
#include "base/atomic_file.h"
#include "cli/backup_manifest.h"
#include "cli/backup_run_folders.h"
#include "cli/cli_command.h"
#include "cli/journal_heads.h"
#include "cli/terminal_progress.h"
#include "data/ctrlr_params.h"
#include "data/device_image.h"
#include "data/image_diff.h"
#include "data/journal.h"
#include "data/live_store.h"
#include "data/memory_map.h"
#include "data/model_reads.h"
#include "data/sha256.h"
#include "protocol/address_search.h"
#include "protocol/ctrlr_protocol.h"
#include "protocol/read_retry.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <iostream>
#include <map>
#include <set>
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

// The numbers of the last complete backup in `top` that lie in first..last; false when there is
// none (the first backup into the folder).
bool KnownNumbers(const std::string& top, int first, int last, std::set<int>& known,
                  std::string& folder) {
    BackupManifest latest;
    std::string error;
    if (!ReadManifest(top + "/" + kLatestName, latest, error)) return false;
    folder = latest.folder;
    for (const BackupEntry& e : latest.controllers)
        if (e.saved && e.number >= first && e.number <= last) known.insert(e.number);
    return true;
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

// The number of the controller's second side when it serves two, else 0: read from its parameter
// block before the image, so that a controller whose image fails is not tried again there.
int SideBNumber(RecordStore& store) {
    ControllerModel model;
    if (ReadModelParams(model, store, 1) != ReadResult::Read) return 0;
    const CtrlrParams& params = model.Params().read;
    return params.CountSideTrk() == 2 ? params.AdrTrk_2() : 0;
}

BackupEntry SaveOne(Context& ctx, int number, const std::string& dir, int& sideB) {
    BackupEntry e;
    e.number = number;
    e.time = LocalTime("%Y-%m-%dT%H:%M:%S%z");
    e.started = JournalNow();
    char text[kIdentTextSize] = {};
    const int ident = ReadIdentText(ctx.slot, number, text);
    if (ident == 1 || ident == -2) e.ident = IdentText(text);

    int ctrl = number;
    LiveRecordStore store(ctx.slot, ctrl);
    sideB = SideBNumber(store);
    std::vector<uint8_t> image;
    std::string error;
    ImageSaveResult r{};
    const uint64_t retriedBefore = RetriedRequests(ctx.slot);
    {
        TerminalProgress bar("Трк №" + std::to_string(number));
        r = ReadDeviceImage(store, image, bar.Callback(), &error);
    }
    e.finished = JournalNow();
    e.retries = static_cast<int>(RetriedRequests(ctx.slot) - retriedBefore);
    e.reread = RepliesConfirmedByRereading(ctx.slot, number);
    if (r != ImageSaveResult::Saved) {
        e.reason = error;
        if (const std::string loss = LinkLossText(ctx); !loss.empty()) e.reason += "; " + loss;
        return e;
    }
    e.file = "trk" + std::to_string(number) + "_" + LocalTime("%Y%m%d-%H%M%S") + ".bin";
    std::string why;
    if (WriteFileAtomically(dir + "/" + e.file, image.data(), image.size(), &why) != 0) {
        e.reason = ImageSaveErrorText(ImageSaveResult::FileFailed) + ": " + why;
        e.file.clear();
        return e;
    }
    e.saved = true;
    e.size = static_cast<int>(image.size());
    e.sha256 = Sha256Hex(image.data(), image.size());
    return e;
}

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
    const std::string& top = args[0];
    std::string error;
    RunFolder run;
    std::vector<std::string> notes;
    const bool started = StartRun(top, run, notes, error);
    for (const std::string& note : notes) std::cerr << note << '\n';
    if (!started) return Fail(kExitFile, error);
    manifest.folder = run.name;
    manifest.sequence = run.sequence;
    const std::string& dir = run.path;
    manifest.port = ctx.portName;
    manifest.created = LocalTime("%Y-%m-%dT%H:%M:%S%z");

    // The controllers of the last complete backup here are each polled with the full wait and
    // reported when silent; the first backup into the folder gives every number the full wait.
    // Other numbers are searched quickly: the search still finds a controller that answers late.
    std::set<int> known;
    std::string knownFolder;
    const bool first = !KnownNumbers(top, manifest.first, manifest.last, known, knownFolder);
    AddressSearch search(ctx.slot, ctx.thorough || first);

    std::map<int, int> sideOf; // second-side numbers of the controllers met so far -> side A
    bool fileFailed = false;
    auto take = [&](const SearchResult& r) {
        const int n = r.number;
        if (const auto owner = sideOf.find(n); owner != sideOf.end()) {
            if (!ctx.json && r.answer != SearchAnswer::Absent)
                Report("Трк №" + std::to_string(n) + ": вторая сторона контроллера №" +
                       std::to_string(owner->second));
            return;
        }
        if (r.answer == SearchAnswer::Absent && known.count(n) == 0) return;
        BackupEntry e;
        int b = 0;
        if (r.answer != SearchAnswer::Answered) {
            e.number = n;
            e.time = LocalTime("%Y-%m-%dT%H:%M:%S%z");
            e.unreached = r.answer == SearchAnswer::NotReached;
            e.reason = e.unreached ? "не опрошен: " + LinkLossText(ctx)
                       : r.answer == SearchAnswer::Absent
                           ? "нет ответа, а в копии " + knownFolder + " он сохранен"
                           : "C данным устройством не поддерживается работа";
        } else {
            e = SaveOne(ctx, n, dir, b);
        }
        if (b > n) sideOf[b] = n;
        if (e.saved) {
            if (!ctx.json) Report("Трк №" + std::to_string(n) + ": сохранен в " + e.file);
        } else {
            fileFailed = fileFailed ||
                         e.reason.rfind(ImageSaveErrorText(ImageSaveResult::FileFailed), 0) == 0;
            if (!ctx.json) std::cout.flush();
            std::cerr << "Трк №" << n << ": не сохранен: " << e.reason << std::endl;
        }
        manifest.controllers.push_back(std::move(e));
        // Kept up to date in the unfinished folder: a killed run still tells its line and what
        // each of its images is. A failure here shows again when the run ends.
        std::string ignored;
        WriteManifest(dir, manifest, ignored);
    };
    for (int n = manifest.first; n <= manifest.last; ++n) {
        // Every controller answers the reserve address: in a range it would be saved twice.
        if (n == kReserveAddress && !ctx.reserve) continue;
        // A second side already met is not polled again.
        if (sideOf.count(n) != 0) {
            take({n, SearchAnswer::Answered});
            continue;
        }
        std::vector<SearchResult> results = search.Poll(n, known.count(n) != 0);
        // A controller found is read at once; the numbers still open are settled first, as the
        // read needs the line.
        if (search.HoldsReply())
            for (const SearchResult& r : search.Settle()) results.push_back(r);
        for (const SearchResult& r : results) take(r);
    }
    for (const SearchResult& r : search.Settle()) take(r);
    if (manifest.controllers.empty()) {
        ::rmdir(dir.c_str());
        return Fail(kExitNoAnswer, "Ни один контроллер не ответил");
    }

    // How far the journal went: a journal later cut short or rebuilt no longer matches this.
    manifest.journal = ReadJournalHead(JournalPath(ctx));
    if (manifest.journal.Present())
        std::cerr << "Журнал изменений " << manifest.journal.path << ": источник "
                  << manifest.journal.source << ", записей " << manifest.journal.entries
                  << (manifest.journal.head.empty() ? "" : ", последняя " + manifest.journal.head)
                  << '\n';
    if (!WriteManifest(dir, manifest, error) || !FinishRun(top, run, error))
        return Fail(kExitFile, error);
    int saved = 0;
    for (const BackupEntry& e : manifest.controllers) saved += e.saved ? 1 : 0;
    const int failed = static_cast<int>(manifest.controllers.size()) - saved;
    // Only a complete backup becomes the one `latest` names; an incomplete one stays beside it.
    if (failed == 0 && !AdvanceLatest(top, manifest.folder, manifest.sequence, error))
        return Fail(kExitFile, error);
    if (ctx.json) PrintJson(ManifestToJson(manifest));
    if (!ctx.json)
        Report("Сохранено контроллеров: " + std::to_string(saved) +
               ", не сохранено: " + std::to_string(failed) + " (" + top + "/" + run.name + ")");
    if (failed == 0) return kExitOk;
    return fileFailed ? kExitFile : kExitNoAnswer;
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
    // A copy marked later than now was made while one of the clocks was wrong: its times and
    // `changes` periods mislead, though the comparison itself holds.
    constexpr int64_t kClockSlackMs = 60 * 1000;
    if (const int64_t made = JournalTimeMs(UtcOfManifestTime(manifest.created));
        made > JournalTimeMs(JournalNow()) + kClockSlackMs)
        std::cerr << "Часы расходятся: копия " << dir << " помечена временем "
                  << JournalLocalTime(UtcOfManifestTime(manifest.created)) << ", позже текущего\n";
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
        std::vector<uint8_t> saved;
        std::vector<uint8_t> now;
        int ctrl = e.number;
        LiveRecordStore store(ctx.slot, ctrl);
        if (LoadImageFile(dir + "/" + e.file, saved, &error) != ImageLoadResult::Loaded ||
            Sha256Hex(saved.data(), saved.size()) != e.sha256) {
            status = "bad-backup";
            detail = "копия " + e.file + " повреждена или отсутствует";
            exitCode = kExitFile;
        } else {
            ImageSaveResult r{};
            {
                TerminalProgress bar("Трк №" + std::to_string(e.number));
                AddressSearch search(ctx.slot, true);
                const std::vector<SearchResult> poll = search.Poll(e.number);
                r = !poll.empty() && poll.front().answer == SearchAnswer::Answered
                        ? ReadDeviceImage(store, now, bar.Callback(), &error)
                        : ImageSaveResult::NoLink;
            }
            if (r != ImageSaveResult::Saved) {
                status = "failed";
                detail = r == ImageSaveResult::NoLink ? "нет связи" : error;
                if (const std::string loss = LinkLossText(ctx); !loss.empty())
                    detail += "; " + loss;
            } else if (now == saved) {
                status = "same";
            } else {
                // Named as `diff` names them: record, the screen's caption, both values.
                status = "differs";
                std::vector<std::string> records;
                for (const ImageDifference& d : DiffImages(saved, now)) {
                    const std::string address = RecordAddressText(d.address);
                    if (records.empty() || records.back() != address) records.push_back(address);
                    fields.push_back(DifferenceLine(d));
                }
                item["records"] = records;
                item["fields"] = fields;
            }
            if (status != "same" && exitCode == kExitOk) exitCode = kExitNoAnswer;
        }
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
