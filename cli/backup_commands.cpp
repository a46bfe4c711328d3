// Whole-station backup: every controller that answers on the line saved into one directory with
// a manifest, and the check of a backup against the controllers as they are now.
#include "base/atomic_file.h"
#include "cli/backup_manifest.h"
#include "cli/cli_command.h"
#include "cli/terminal_progress.h"
#include "data/ctrlr_params.h"
#include "data/device_image.h"
#include "data/live_store.h"
#include "data/memory_map.h"
#include "data/sha256.h"
#include "protocol/ctrlr_protocol.h"
#include "protocol/read_retry.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <iostream>
#include <map>
#include <sys/stat.h>

namespace velmar::cli {
namespace {

constexpr const char* kBackupUsage =
    "backup КАТАЛОГ [ПЕРВЫЙ [ПОСЛЕДНИЙ]]  образы всех ответивших контроллеров (1..31) и "
    "manifest.json";
constexpr const char* kVerifyUsage =
    "verify КАТАЛОГ        сравнить контроллеры с их копиями в каталоге";

int Usage(const char* usage) {
    return Fail(kExitUsage, std::string("Использование: ") + usage);
}

std::string LocalTime(const char* format) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[64];
    std::strftime(text, sizeof text, format, &local);
    return text;
}

bool ParseNumberArg(const std::string& s, int& out) {
    if (s.empty() || s.size() > 3 || s.find_first_not_of("0123456789") != std::string::npos)
        return false;
    out = std::stoi(s);
    return out >= 1 && out <= 255;
}

// Poll result of a number: 1 answered, 0 nobody there, -1 answered but not as our controllers do.
int Poll(PortSlot slot, int number) {
    uint8_t reply[4] = {};
    int answered = 0;
    const int r = PollCtrlrAddress(slot, number, reply, answered);
    return r == 1 ? 1 : (r == -1 ? 0 : -1);
}

// The number of the controller's second side when it serves two, else 0: read from its parameter
// block before the image, so that a controller whose image fails is not tried again there.
int SideBNumber(RecordStore& store) {
    uint8_t block[256] = {};
    const int got = store.Read(addr::kParamsLength, -1, block, 0);
    if (got <= 0) return 0;
    const CtrlrParams params(block, got);
    return params.CountSideTrk() == 2 ? params.AdrTrk_2() : 0;
}

BackupEntry SaveOne(Context& ctx, int number, const std::string& dir, int& sideB) {
    BackupEntry e;
    e.number = number;
    e.time = LocalTime("%Y-%m-%dT%H:%M:%S%z");
    char text[kIdentTextSize] = {};
    const int ident = ReadIdentText(ctx.slot, number, text);
    if (ident == 1 || ident == -2) e.ident = IdentText(text);

    int ctrl = number;
    LiveRecordStore store(ctx.slot, ctrl);
    sideB = SideBNumber(store);
    std::vector<uint8_t> image;
    std::string error;
    int r = 0;
    const uint64_t retriedBefore = RetriedRequests();
    {
        TerminalProgress bar("Трк №" + std::to_string(number));
        r = ReadDeviceImage(store, image, bar.Callback(), &error);
    }
    e.retries = static_cast<int>(RetriedRequests() - retriedBefore);
    e.reread = RepliesConfirmedByRereading(ctx.slot, number);
    if (r != kImageSaved) {
        e.reason = error;
        return e;
    }
    e.file = "trk" + std::to_string(number) + "_" + LocalTime("%Y%m%d-%H%M%S") + ".bin";
    std::string why;
    if (WriteFileAtomically(dir + "/" + e.file, image.data(), image.size(), &why) != 0) {
        e.reason = ImageSaveErrorText(kImageFileFailed) + ": " + why;
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
    const std::string& dir = args[0];
    if (::mkdir(dir.c_str(), 0777) != 0 && errno != EEXIST)
        return Fail(kExitFile, "Каталог " + dir + " не создан: " + std::strerror(errno));
    manifest.port = ctx.portName;
    manifest.created = LocalTime("%Y-%m-%dT%H:%M:%S%z");

    std::map<int, int> sideOf; // second-side numbers of the controllers met so far -> side A
    bool fileFailed = false;
    for (int n = manifest.first; n <= manifest.last; ++n) {
        if (const auto owner = sideOf.find(n); owner != sideOf.end()) {
            if (!ctx.json)
                std::cout << "Трк №" << n << ": вторая сторона контроллера №" << owner->second
                          << '\n';
            continue;
        }
        const int poll = Poll(ctx.slot, n);
        if (poll == 0) continue;
        BackupEntry e;
        int b = 0;
        if (poll < 0) {
            e.number = n;
            e.time = LocalTime("%Y-%m-%dT%H:%M:%S%z");
            e.reason = "C данным устройством не поддерживается работа";
        } else {
            e = SaveOne(ctx, n, dir, b);
        }
        if (b > n) sideOf[b] = n;
        if (e.saved) {
            if (!ctx.json) std::cout << "Трк №" << n << ": сохранен в " << e.file << '\n';
        } else {
            fileFailed = fileFailed || e.reason.rfind(ImageSaveErrorText(kImageFileFailed), 0) == 0;
            if (!ctx.json) std::cout.flush();
            std::cerr << "Трк №" << n << ": не сохранен: " << e.reason << '\n';
        }
        manifest.controllers.push_back(std::move(e));
    }
    if (manifest.controllers.empty()) return Fail(kExitNoAnswer, "Ни один контроллер не ответил");

    std::string error;
    if (!WriteManifest(dir, manifest, error)) return Fail(kExitFile, error);
    if (ctx.json) PrintJson(ManifestToJson(manifest));
    int saved = 0;
    for (const BackupEntry& e : manifest.controllers) saved += e.saved ? 1 : 0;
    const int failed = static_cast<int>(manifest.controllers.size()) - saved;
    if (!ctx.json)
        std::cout << "Сохранено контроллеров: " << saved << ", не сохранено: " << failed << '\n';
    if (failed == 0) return kExitOk;
    return fileFailed ? kExitFile : kExitNoAnswer;
}

// Names the records of the image whose bytes differ between `a` and `b` (same header).
std::vector<std::string> DifferingRecords(const std::vector<uint8_t>& a,
                                          const std::vector<uint8_t>& b) {
    std::vector<std::string> names;
    size_t at = image::kHeaderLength;
    for (const ImageRecord& rec : ImageRecords(a.data())) {
        const auto length = static_cast<size_t>(rec.length);
        if (std::memcmp(a.data() + at, b.data() + at, length) != 0) {
            char name[16];
            std::snprintf(name, sizeof name, "0x%04X", rec.address);
            names.emplace_back(name);
        }
        at += length;
    }
    return names;
}

int Verify(Context& ctx, const std::vector<std::string>& args) {
    if (ctx.store->IsDemo())
        return Fail(kExitUsage, "Команда verify недоступна в демонстрационном режиме");
    if (args.size() != 1 || args[0].empty()) return Usage(kVerifyUsage);
    const std::string& dir = args[0];
    BackupManifest manifest;
    std::string error;
    if (!ReadManifest(dir, manifest, error)) return Fail(kExitFile, error);

    Json results = Json::array();
    int exitCode = kExitOk;
    for (const BackupEntry& e : manifest.controllers) {
        if (!e.saved) continue;
        Json item = {{"number", e.number}, {"file", e.file}};
        std::string status;
        std::string detail;
        std::vector<uint8_t> saved;
        std::vector<uint8_t> now;
        int ctrl = e.number;
        LiveRecordStore store(ctx.slot, ctrl);
        if (LoadImageFile(dir + "/" + e.file, saved, &error) != kImageLoaded ||
            Sha256Hex(saved.data(), saved.size()) != e.sha256) {
            status = "bad-backup";
            detail = "копия " + e.file + " повреждена или отсутствует";
            exitCode = kExitFile;
        } else {
            int r = 0;
            {
                TerminalProgress bar("Трк №" + std::to_string(e.number));
                r = Poll(ctx.slot, e.number) == 1
                        ? ReadDeviceImage(store, now, bar.Callback(), &error)
                        : kImageNoLink;
            }
            if (r != kImageSaved) {
                status = "failed";
                detail = r == kImageNoLink ? "нет связи" : error;
            } else if (now == saved) {
                status = "same";
            } else if (now.size() != saved.size() ||
                       !std::equal(now.begin(), now.begin() + image::kHeaderLength,
                                   saved.begin())) {
                status = "differs";
                detail = "другие размеры записей";
            } else {
                status = "differs";
                const auto records = DifferingRecords(saved, now);
                item["records"] = records;
                for (const auto& name : records)
                    detail += (detail.empty() ? "записи " : ", ") + name;
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
