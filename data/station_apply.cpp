#include "data/station_apply.h"

#include "base/atomic_file.h"
#include "data/image_write_report.h"
#include "data/journal_store.h"
#include "data/live_store.h"
#include "data/sha256.h"
#include "data/station_backup.h"
#include "link/port_result.h"
#include "protocol/ctrlr_protocol.h"

namespace velmar {

namespace {

constexpr const char* kManifestTime = "%Y-%m-%dT%H:%M:%S%z";

std::string WriteFailureText(const ProfileWriteOutcome& out) {
    switch (out.result) {
    case WriteResult::RestartFailed:
        return out.params.restart == RestartSeen::Lost
                   ? RestartSeenText(out.params.restart)
                   : "записан, но контроллер не ответил на команду рестарта";
    case WriteResult::PortFailed:
        return "записан, но порт не переключен на новую скорость";
    case WriteResult::SizesFailed:
        return "не считаны размеры записей: " + out.record;
    default:
        return "Ошибка записи! " + out.record;
    }
}

bool BackUp(const ApplyLine& line, const RunFolder& run, BackupManifest& manifest, ApplyTarget& t,
            const ImageProgressFn& progress) {
    int ctrl = t.number;
    LiveRecordStore store(line.slot, ctrl);
    std::string error;
    const ImageSaveResult r = ReadDeviceImage(store, t.image, progress, &error);
    BackupEntry e;
    e.number = t.number;
    e.time = LocalTime(kManifestTime);
    if (r == ImageSaveResult::Saved) {
        e.file = "trk" + std::to_string(t.number) + "_" + LocalTime("%Y%m%d-%H%M%S") + ".bin";
        if (WriteFileAtomically(run.path + "/" + e.file, t.image.data(), t.image.size(), &error) ==
            0) {
            e.saved = true;
            e.size = static_cast<int>(t.image.size());
            e.sha256 = Sha256Hex(t.image.data(), t.image.size());
        }
    }
    if (!e.saved) e.reason = error;
    manifest.controllers.push_back(e);
    std::string ignored;
    WriteManifest(run.path, manifest, ignored);
    if (!e.saved) {
        t.detail = "копия не сохранена, запись не начата: " + error;
        return false;
    }
    t.backup = run.name + "/" + e.file;
    return true;
}

} // namespace

ApplyTarget PreviewApply(PortSlot slot, int number, const Profile& profile,
                         const std::string& profileFile) {
    ApplyTarget t;
    t.number = number;
    t.answersAt = number;
    int ctrl = number;
    LiveRecordStore store(slot, ctrl);
    ProfileError refusal;
    if (ReadProfileTarget(store, profile, t.read) != ReadResult::Read) {
        t.state = ApplyState::Failed;
        t.detail = "ошибка чтения";
    } else if (!CheckProfileSizes(profile, profileFile, t.read.header.data(), refusal)) {
        t.state = ApplyState::Failed;
        t.detail = "профиль не подходит: " + refusal.text;
    } else {
        t.state = t.read.changes.empty() ? ApplyState::Complies : ApplyState::WouldChange;
    }
    return t;
}

bool ApplyToController(const ApplyLine& line, const Profile& profile, const RunFolder& run,
                       BackupManifest& manifest, ApplyTarget& t, const ImageProgressFn& progress) {
    t.state = ApplyState::Failed;
    if (!BackUp(line, run, manifest, t, progress)) return false;
    char ident[kIdentTextSize] = {};
    JournalContext context{
        CurrentJournalOrigin("velmar"), line.operation, line.portName, t.number, {}};
    if (ReadIdentText(line.slot, t.number, ident) == 1) context.ident = IdentLines(ident);
    int ctrl = t.number;
    LiveRecordStore live(line.slot, ctrl);
    JournalStore store(live, line.journalPath, std::move(context));
    std::string error;
    if (!store.Ready(error)) {
        t.detail = "запись не начата: " + error;
        return false;
    }
    // Read again through the journal: its old values are what the controller held just now.
    if (ReadProfileTarget(store, profile, t.read) != ReadResult::Read) {
        t.detail = "ошибка чтения";
        return false;
    }
    const ProfileWriteOutcome out =
        WriteProfileTarget(t.read, store, line.slot, line.format, t.number);
    t.answersAt = out.params.address != 0 ? out.params.address : t.number;
    bool ok = true;
    if (out.result != WriteResult::Written && out.result != WriteResult::NoChanges) {
        t.detail = WriteFailureText(out);
        if (!store.LastError().empty()) t.detail += ": " + store.LastError();
        ok = false;
    }
    // Read back at the number and speed the controller answers at now.
    ProfileTarget back;
    int backCtrl = t.answersAt;
    LiveRecordStore verify(line.slot, backCtrl);
    if (ReadProfileTarget(verify, profile, back) == ReadResult::Read) {
        t.holds = back.changes;
        if (ok && !back.changes.empty()) {
            t.detail = "после записи поля не совпадают с профилем";
            ok = false;
        }
    } else if (ok) {
        t.detail = "не считан после записи";
        ok = false;
    }
    if (out.params.newBaud != 0) ConfigureLine(line.slot, line.format);
    if (ok) t.state = ApplyState::Verified;
    return ok;
}

bool RollBackController(const ApplyLine& line, const ApplyTarget& t,
                        const ImageProgressFn& progress) {
    JournalContext context{
        CurrentJournalOrigin("velmar"), line.operation + ", откат", line.portName, t.number, {}};
    int ctrl = t.answersAt;
    LiveRecordStore live(line.slot, ctrl);
    JournalStore store(live, line.journalPath, std::move(context));
    std::string error;
    if (!store.Ready(error)) return false;
    ImageWriteReport report;
    SizesRecord sizes;
    // Each record is entered in the journal before it is sent, as an image load does.
    const ImageWriteResult written =
        WriteImageToController(line.slot, t.answersAt, t.image, progress, &sizes, &report, &store);
    std::vector<uint8_t> again;
    int back = t.number;
    LiveRecordStore reread(line.slot, back);
    return written == ImageWriteResult::Written &&
           ReadDeviceImage(reread, again) == ImageSaveResult::Saved && again == t.image;
}

} // namespace velmar
