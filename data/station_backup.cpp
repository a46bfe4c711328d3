#include "data/station_backup.h"

#include "base/atomic_file.h"
#include "data/backup_run_folders.h"
#include "data/ctrlr_params.h"
#include "data/journal.h"
#include "data/live_store.h"
#include "data/model_reads.h"
#include "data/sha256.h"
#include "protocol/address_search.h"
#include "protocol/cp1251_text.h"
#include "protocol/ctrlr_protocol.h"
#include "protocol/read_retry.h"

#include <algorithm>
#include <dirent.h>
#include <memory>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace velmar {

namespace {

constexpr const char* kManifestTime = "%Y-%m-%dT%H:%M:%S%z";

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

// The number of the controller's second side when it serves two, else 0: read from its parameter
// block before the image, so that a controller whose image fails is not tried again there.
int SideBNumber(RecordStore& store) {
    ControllerModel model;
    if (ReadModelParams(model, store, 1) != ReadResult::Read) return 0;
    const CtrlrParams& params = model.Params().read;
    return params.CountSideTrk() == 2 ? params.AdrTrk_2() : 0;
}

// Why a read failed when the line failed under it. A gateway that went away and came back
// during the read leaves no error on the port: the reconnections it took still name the cause.
std::string LossDuringRead(PortSlot slot, const std::string& portName, uint32_t reconnectsBefore) {
    if (std::string loss = LinkLossText(slot, portName); !loss.empty()) return loss;
    if (PortReconnects(slot) != reconnectsBefore)
        return "связь со шлюзом " + portName + " прерывалась во время чтения";
    return {};
}

BackupEntry SaveOne(PortSlot slot, const std::string& portName, int number, const std::string& dir,
                    int& sideB, StationBackupWatch& watch, bool& cancelled) {
    BackupEntry e;
    e.number = number;
    e.time = LocalTime(kManifestTime);
    char text[kIdentTextSize] = {};
    const int ident = ReadIdentText(slot, number, text);
    if (ident == 1 || ident == -2) e.ident = IdentLines(text);

    int ctrl = number;
    LiveRecordStore store(slot, ctrl);
    sideB = SideBNumber(store);
    std::vector<uint8_t> image;
    std::string error;
    ImageSaveResult r{};
    const uint64_t retriedBefore = RetriedRequests(slot);
    const uint32_t reconnectsBefore = PortReconnects(slot);
    watch.ImageStarted(number);
    r = ReadDeviceImage(
        store, image, [&](int done, int total) { watch.ImageProgress(number, done, total); },
        &error, [&] { return watch.Stop(); });
    watch.ImageEnded(number);
    e.retries = static_cast<int>(RetriedRequests(slot) - retriedBefore);
    e.reread = RepliesConfirmedByRereading(slot, number);
    cancelled = r == ImageSaveResult::Cancelled;
    if (r != ImageSaveResult::Saved) {
        e.reason = error;
        if (const std::string loss = LossDuringRead(slot, portName, reconnectsBefore);
            !loss.empty())
            e.reason += "; " + loss;
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

bool IsDirectory(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace

std::string LinkLossText(PortSlot slot, const std::string& portName) {
    const int err = PortLastError(slot);
    if (err == 0) return {};
    const bool network = IsNetworkPortKind(GetPortKind(slot));
    return std::string(network ? "нет связи со шлюзом " : "нет связи с портом ") + portName + ": " +
           SystemErrorReason(err);
}

std::string IdentLines(const char* text) {
    std::string lines;
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p == '\r') {
            lines += '\n';
            if (p[1] == '\n') ++p;
        } else {
            lines += *p;
        }
    }
    std::string out = Cp1251ToUtf8(lines);
    if (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

StationBackupOutcome BackupStation(PortSlot slot, const StationBackupRequest& request,
                                   StationBackupWatch& watch) {
    StationBackupOutcome out;
    BackupManifest& manifest = out.manifest;
    manifest.first = request.first;
    manifest.last = request.last;
    const std::string& top = request.top;
    RunFolder run;
    std::vector<std::string> notes;
    const bool started = StartRun(top, run, notes, out.error);
    watch.Notes(notes);
    if (!started) {
        out.result = StationResult::FileFailed;
        return out;
    }
    manifest.folder = run.name;
    const std::string& dir = run.path;
    manifest.port = request.portName;
    manifest.created = LocalTime(kManifestTime);

    // The controllers of the last complete backup here are each polled with the full wait and
    // reported when silent; the first backup into the folder gives every number the full wait.
    // Other numbers are searched quickly: the search still finds a controller that answers late.
    std::set<int> known;
    std::string knownFolder;
    const bool first = !KnownNumbers(top, manifest.first, manifest.last, known, knownFolder);
    AddressSearch search(slot, request.thorough || first);

    std::map<int, int> sideOf; // second-side numbers of the controllers met so far -> side A
    bool fileFailed = false;
    bool cancelled = false;
    auto take = [&](const SearchResult& r) {
        const int n = r.number;
        if (cancelled) return;
        if (const auto owner = sideOf.find(n); owner != sideOf.end()) {
            if (r.answer != SearchAnswer::Absent) watch.SecondSide(n, owner->second);
            return;
        }
        if (r.answer == SearchAnswer::Absent && known.count(n) == 0) return;
        BackupEntry e;
        int b = 0;
        if (r.answer != SearchAnswer::Answered) {
            e.number = n;
            e.time = LocalTime(kManifestTime);
            e.unreached = r.answer == SearchAnswer::NotReached;
            e.reason = e.unreached ? "не опрошен: " + LinkLossText(slot, request.portName)
                       : r.answer == SearchAnswer::Absent
                           ? "нет ответа, а в копии " + knownFolder + " он сохранен"
                           : "C данным устройством не поддерживается работа";
        } else {
            e = SaveOne(slot, request.portName, n, dir, b, watch, cancelled);
            if (cancelled) return; // a controller half read is not part of the run
        }
        if (b > n) sideOf[b] = n;
        if (!e.saved)
            fileFailed = fileFailed ||
                         e.reason.rfind(ImageSaveErrorText(ImageSaveResult::FileFailed), 0) == 0;
        watch.Taken(e);
        manifest.controllers.push_back(std::move(e));
        // Kept up to date in the unfinished folder: a killed run still tells its line and what
        // each of its images is. A failure here shows again when the run ends.
        std::string ignored;
        WriteManifest(dir, manifest, ignored);
    };
    for (int n = manifest.first; n <= manifest.last && !cancelled; ++n) {
        // Every controller answers the reserve address: in a range it would be saved twice.
        if (n == kReserveAddress && !request.reserve) continue;
        if (watch.Stop()) {
            cancelled = true;
            break;
        }
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
    if (!cancelled)
        for (const SearchResult& r : search.Settle()) take(r);
    if (manifest.controllers.empty()) {
        ::rmdir(dir.c_str());
        out.result = cancelled ? StationResult::Cancelled : StationResult::NoneAnswered;
        return out;
    }

    if (!WriteManifest(dir, manifest, out.error) || !FinishRun(top, run, out.error)) {
        out.result = StationResult::FileFailed;
        return out;
    }
    int saved = 0;
    for (const BackupEntry& e : manifest.controllers) saved += e.saved ? 1 : 0;
    const bool complete = saved == static_cast<int>(manifest.controllers.size());
    // Only a complete backup becomes the one `latest` names; an incomplete one stays beside it.
    if (complete && !cancelled && !AdvanceLatest(top, manifest.folder, out.error)) {
        out.result = StationResult::FileFailed;
        return out;
    }
    out.result = cancelled    ? StationResult::Cancelled
                 : complete   ? StationResult::Complete
                 : fileFailed ? StationResult::FileFailed
                              : StationResult::Incomplete;
    return out;
}

VerifyOutcome VerifyController(PortSlot slot, const std::string& portName, const std::string& dir,
                               const BackupEntry& e, const ImageProgressFn& progress,
                               const ImageStopFn& stop) {
    VerifyOutcome out;
    std::vector<uint8_t> saved;
    std::vector<uint8_t> now;
    std::string error;
    int ctrl = e.number;
    LiveRecordStore store(slot, ctrl);
    if (LoadImageFile(dir + "/" + e.file, saved, &error) != ImageLoadResult::Loaded ||
        Sha256Hex(saved.data(), saved.size()) != e.sha256) {
        out.status = VerifyStatus::BadBackup;
        out.detail = "копия " + e.file + " повреждена или отсутствует";
        return out;
    }
    AddressSearch search(slot, true);
    const std::vector<SearchResult> poll = search.Poll(e.number);
    const ImageSaveResult r = !poll.empty() && poll.front().answer == SearchAnswer::Answered
                                  ? ReadDeviceImage(store, now, progress, &error, stop)
                                  : ImageSaveResult::NoLink;
    if (r != ImageSaveResult::Saved) {
        out.status = VerifyStatus::Failed;
        out.detail = r == ImageSaveResult::NoLink ? "нет связи" : error;
        if (const std::string loss = LinkLossText(slot, portName); !loss.empty())
            out.detail += "; " + loss;
    } else if (now == saved) {
        out.status = VerifyStatus::Same;
    } else {
        out.status = VerifyStatus::Differs;
        out.differences = DiffImages(saved, now);
    }
    return out;
}

int SecondSideNumber(PortSlot slot, int number) {
    int ctrl = number;
    LiveRecordStore store(slot, ctrl);
    return SideBNumber(store);
}

std::vector<int> ScanStation(PortSlot slot, int first, int last,
                             const std::function<void(int)>& step, const ImageStopFn& stop) {
    std::vector<int> found;
    AddressSearch search(slot, false);
    auto take = [&](const SearchResult& r) {
        if (r.answer == SearchAnswer::Answered) found.push_back(r.number);
    };
    for (int n = first; n <= last; ++n) {
        if (n == kReserveAddress) continue;
        if (stop && stop()) break;
        for (const SearchResult& r : search.Poll(n)) take(r);
        if (step) step(n);
    }
    for (const SearchResult& r : search.Settle()) take(r);
    std::sort(found.begin(), found.end());
    return found;
}

int JournalEntriesSince(const std::string& journalPath, const std::string& portName, int number,
                        const std::string& since) {
    std::string error;
    const std::unique_ptr<Journal> journal = Journal::OpenExisting(journalPath, error);
    if (!journal) return ::access(journalPath.c_str(), F_OK) == 0 ? -1 : 0;
    JournalFilter filter;
    // The manifest's local time without its offset: the journal takes local time.
    constexpr size_t kLocalTimeLength = 19; // 2026-12-08T10:00:00
    filter.since = JournalTimeFromUser(since.substr(0, kLocalTimeLength));
    filter.ctrlr = number;
    int count = 0;
    for (const JournalEntry& e : journal->List(filter, error))
        count += SameLine(e.port, portName) ? 1 : 0;
    return error.empty() ? count : -1;
}

std::map<int, LatestBackup> LatestBackups(const std::string& top, const std::string& portName) {
    std::vector<std::string> runs;
    if (DIR* d = ::opendir(top.c_str())) {
        while (const dirent* entry = ::readdir(d)) {
            const std::string name = entry->d_name;
            if (name == "." || name == ".." || name == kLatestName) continue;
            if (name.size() > std::string(kPartialSuffix).size() &&
                name.compare(name.size() - std::string(kPartialSuffix).size(), std::string::npos,
                             kPartialSuffix) == 0)
                continue; // a run in progress or killed: its images are not yet a backup
            if (IsDirectory(top + "/" + name)) runs.push_back(name);
        }
        ::closedir(d);
    }
    std::map<int, LatestBackup> latest;
    std::map<int, std::string> newestTime;
    for (const std::string& name : runs) {
        BackupManifest m;
        std::string error;
        const std::string dir = top + "/" + name;
        if (!ReadManifest(dir, m, error) || !OtherLineRefusal(m, dir, portName).empty()) continue;
        for (const BackupEntry& e : m.controllers) {
            if (!e.saved) continue;
            auto at = newestTime.find(e.number);
            // Times of one machine in one format: the later one sorts later.
            if (at != newestTime.end() && at->second >= e.time) continue;
            newestTime[e.number] = e.time;
            latest[e.number] = {dir, e};
        }
    }
    return latest;
}

} // namespace velmar
