// apply: brings the controllers of a line to a profile. Each is read and shown what the profile
// would change (--dry-run stops there); then one after the other each is backed up, written with
// the sequences of the screens, read back and compared, every field journaled under the
// profile's name. The first controller that fails stops the run; --rollback writes its backup
// back.
#include "base/atomic_file.h"
#include "cli/backup_manifest.h"
#include "cli/backup_run_folders.h"
#include "cli/cli_command.h"
#include "cli/json_output.h"
#include "cli/profile_support.h"
#include "cli/terminal_progress.h"
#include "data/device_image.h"
#include "data/image_write_report.h"
#include "data/live_store.h"
#include "data/profile_apply.h"
#include "data/sha256.h"
#include "protocol/address_search.h"
#include "protocol/ctrlr_protocol.h"

#include <iostream>
#include <map>

namespace velmar::cli {
namespace {

constexpr const char* kApplyUsage =
    "apply ПРОФИЛЬ [ПЕРВЫЙ [ПОСЛЕДНИЙ]] [--dry-run] [--backup-dir КАТАЛОГ] [--rollback] "
    "[--metrological ПОЛЯ]  записать профиль в контроллеры линии";
constexpr const char* kDefaultBackupDir = "velmar-profile-backups";

// Where a controller stands in a run.
enum class State { Complies, WouldChange, Verified, Failed, Untouched };

const char* StateName(State s) {
    switch (s) {
    case State::Complies:
        return "complies";
    case State::WouldChange:
        return "would-change";
    case State::Verified:
        return "verified";
    case State::Failed:
        return "failed";
    case State::Untouched:
        return "untouched";
    }
    return "";
}

const char* StateText(State s) {
    switch (s) {
    case State::Complies:
        return "соответствует профилю, не записывался";
    case State::WouldChange:
        return "будет изменен";
    case State::Verified:
        return "записан и проверен";
    case State::Failed:
        return "ошибка";
    case State::Untouched:
        return "не затронут";
    }
    return "";
}

struct Target {
    int number = 0;
    ProfileTarget read;
    State state = State::Untouched;
    std::string detail;
    std::string backup;                  // the backup file, in the run's folder
    std::vector<ProfileDeviation> holds; // a failed controller's fields off the profile now
    bool holdsKnown = false;
    std::string rollback;       // "restored", "failed" or empty
    std::vector<uint8_t> image; // its backup
};

bool ProfileSetsNumbers(const Profile& profile) {
    for (const ProfileEntry& e : profile.entries)
        if (e.kind == RecordKind::Params &&
            (e.field == params::kAdrTrk_1.name || e.field == params::kAdrTrk_2.name))
            return true;
    return false;
}

// Empty when no two controllers would answer at one number after the run; else why not.
std::string DuplicateNumbers(Context& ctx, const std::vector<Target>& targets) {
    std::map<int, int> owner; // number -> the target that will answer at it
    for (const Target& t : targets) {
        const ProfileNumbers n = NumbersOfTarget(t.read);
        for (int number : {n.sideA, n.sideB}) {
            if (number == 0) continue;
            if (const auto [at, fresh] = owner.emplace(number, t.number); !fresh)
                return "номер " + std::to_string(number) + " получили бы Трк №" +
                       std::to_string(at->second) + " и Трк №" + std::to_string(t.number);
        }
    }
    // A new number must not be one another controller of the line answers at.
    for (const auto& [number, who] : owner) {
        bool current = false;
        for (const Target& t : targets) current = current || t.number == number;
        if (current) continue;
        AddressSearch search(ctx.slot, true);
        std::vector<SearchResult> r = search.Poll(number, true);
        for (const SearchResult& s : search.Settle()) r.push_back(s);
        if (!r.empty() && r.front().answer != SearchAnswer::Absent)
            return "номер " + std::to_string(number) + " для Трк №" + std::to_string(who) +
                   " уже занят другим контроллером линии";
    }
    return {};
}

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

class ApplyRun {
  public:
    ApplyRun(Context& ctx, const Profile& profile, const ProfileArgs& args)
        : ctx_(ctx), profile_(profile), args_(args) {}

    int Run(int first, int last) {
        const bool read = Preview(first, last);
        // The preview comes first, whole: the engineer sees every change before the first write.
        if (!ctx_.json)
            for (const Target& t : targets_) PrintPreview(t);
        if (!refusal_.empty()) {
            // A profile for another family is the file's fault, not the controller's.
            Finish(kExitFile);
            return Fail(kExitFile, refusal_);
        }
        if (!read) return Finish(kExitNoAnswer);
        if (ProfileSetsNumbers(profile_)) {
            if (const std::string why = DuplicateNumbers(ctx_, targets_); !why.empty()) {
                Finish(kExitUsage);
                return Fail(kExitUsage, "Профиль не применен: " + why);
            }
        }
        bool changes = false;
        for (const Target& t : targets_) changes = changes || t.state == State::WouldChange;
        if (args_.dryRun || !changes) return Finish(changes ? kExitNoAnswer : kExitOk);
        return Finish(Commit());
    }

  private:
    // Reads every target and shows what the profile would change in it.
    bool Preview(int first, int last) {
        std::vector<int> sideB;
        for (int n : AnsweringNumbers(ctx_, first, last)) {
            if (std::find(sideB.begin(), sideB.end(), n) != sideB.end()) continue;
            Target t;
            t.number = n;
            int ctrl = n;
            LiveRecordStore store(ctx_.slot, ctrl);
            ProfileError refusal;
            if (ReadProfileTarget(store, profile_, t.read) != ReadResult::Read) {
                t.state = State::Failed;
                t.detail = "ошибка чтения";
            } else if (!CheckProfileSizes(profile_, args_.positional[0], t.read.header.data(),
                                          refusal)) {
                t.state = State::Failed;
                t.detail = "профиль не подходит: " + refusal.text;
                refusal_ = "Профиль не принят: " + ProfileErrorText(refusal);
            } else {
                t.state = t.read.changes.empty() ? State::Complies : State::WouldChange;
            }
            const CtrlrParams& p = t.read.model.Params().read;
            if (t.read.model.Params().wasRead && p.CountSideTrk() == 2)
                sideB.push_back(p.AdrTrk_2());
            const bool failed = t.state == State::Failed;
            targets_.push_back(std::move(t));
            if (failed) return false;
        }
        if (targets_.empty()) {
            Fail(kExitNoAnswer, "Ни один контроллер не ответил");
            return false;
        }
        return true;
    }

    int Commit() {
        std::vector<std::string> notes;
        std::string error;
        if (!StartRun(args_.backupDir.empty() ? kDefaultBackupDir : args_.backupDir, run_, notes,
                      error)) {
            Fail(kExitFile, error);
            for (Target& t : targets_)
                if (t.state == State::WouldChange) t.state = State::Untouched;
            return kExitFile;
        }
        for (const std::string& note : notes) std::cerr << note << '\n';
        manifest_.port = ctx_.portName;
        manifest_.created = LocalTime("%Y-%m-%dT%H:%M:%S%z");
        manifest_.folder = run_.name;
        manifest_.first = targets_.front().number;
        manifest_.last = targets_.back().number;
        int code = kExitOk;
        for (Target& t : targets_) {
            if (code != kExitOk) {
                if (t.state == State::WouldChange) t.state = State::Untouched;
                continue;
            }
            if (t.state != State::WouldChange) continue;
            code = One(t);
            if (!ctx_.json) PrintResult(t);
        }
        std::string ignored;
        WriteManifest(run_.path, manifest_, ignored);
        if (!FinishRun(args_.backupDir.empty() ? kDefaultBackupDir : args_.backupDir, run_,
                       error) &&
            code == kExitOk)
            code = Fail(kExitFile, error);
        return code;
    }

    bool Backup(Target& t) {
        int ctrl = t.number;
        LiveRecordStore store(ctx_.slot, ctrl);
        std::string error;
        ImageSaveResult r{};
        {
            TerminalProgress bar("Копия Трк №" + std::to_string(t.number));
            r = ReadDeviceImage(store, t.image, bar.Callback(), &error);
        }
        BackupEntry e;
        e.number = t.number;
        e.time = LocalTime("%Y-%m-%dT%H:%M:%S%z");
        if (r == ImageSaveResult::Saved) {
            e.file = "trk" + std::to_string(t.number) + "_" + LocalTime("%Y%m%d-%H%M%S") + ".bin";
            if (WriteFileAtomically(run_.path + "/" + e.file, t.image.data(), t.image.size(),
                                    &error) == 0) {
                e.saved = true;
                e.size = static_cast<int>(t.image.size());
                e.sha256 = Sha256Hex(t.image.data(), t.image.size());
            }
        }
        if (!e.saved) e.reason = error;
        manifest_.controllers.push_back(e);
        std::string ignored;
        WriteManifest(run_.path, manifest_, ignored);
        if (!e.saved) {
            t.detail = "копия не сохранена, запись не начата: " + error;
            return false;
        }
        t.backup = run_.name + "/" + e.file;
        return true;
    }

    // Backs up, writes, reads back and compares one controller: kExitOk when it holds the
    // profile now.
    int One(Target& t) {
        t.state = State::Failed;
        if (!Backup(t)) return kExitFile;
        char ident[kIdentTextSize] = {};
        JournalContext context{CurrentJournalOrigin("velmar-cli"),
                               "velmar-cli apply, профиль " + profile_.name,
                               ctx_.portName,
                               t.number,
                               {}};
        if (ReadIdentText(ctx_.slot, t.number, ident) == 1) context.ident = IdentText(ident);
        int ctrl = t.number;
        LiveRecordStore live(ctx_.slot, ctrl);
        JournalStore store(live, JournalPath(ctx_), std::move(context));
        std::string error;
        if (!store.Ready(error)) {
            t.detail = "запись не начата: " + error;
            return kExitFile;
        }
        // Read again through the journal: its old values are what the controller held just now.
        if (ReadProfileTarget(store, profile_, t.read) != ReadResult::Read) {
            t.detail = "ошибка чтения";
            return kExitNoAnswer;
        }
        const LineFormat line{ctx_.baud, ctx_.dataBits, ctx_.parity, ctx_.stopBits};
        const ProfileWriteOutcome out =
            WriteProfileTarget(t.read, store, ctx_.slot, line, t.number);
        const int now = out.params.address != 0 ? out.params.address : t.number;
        int code = kExitOk;
        if (out.result != WriteResult::Written && out.result != WriteResult::NoChanges) {
            t.detail = WithJournal(store, WriteFailureText(out));
            code = kExitNoAnswer;
        }
        // Read back at the number and speed the controller answers at now.
        ProfileTarget back;
        int backCtrl = now;
        LiveRecordStore verify(ctx_.slot, backCtrl);
        if (ReadProfileTarget(verify, profile_, back) == ReadResult::Read) {
            t.holdsKnown = true;
            t.holds = back.changes;
            if (code == kExitOk && !back.changes.empty()) {
                t.detail = "после записи поля не совпадают с профилем";
                code = kExitNoAnswer;
            }
        } else if (code == kExitOk) {
            t.detail = "не считан после записи";
            code = kExitNoAnswer;
        }
        if (code != kExitOk && args_.rollback) Rollback(t, store, now);
        if (out.params.newBaud != 0)
            ConfigureLine(ctx_.slot, {ctx_.baud, ctx_.dataBits, ctx_.parity, ctx_.stopBits});
        if (code == kExitOk) t.state = State::Verified;
        return code;
    }

    std::string WithJournal(const JournalStore& store, const std::string& text) {
        return store.LastError().empty() ? text : text + ": " + store.LastError();
    }

    // Writes the failed controller's backup back, as `image load` does, and reads it again.
    void Rollback(Target& t, JournalStore& store, int now) {
        ImageWriteReport report;
        SizesRecord sizes;
        ImageWriteResult written{};
        {
            TerminalProgress bar("Откат Трк №" + std::to_string(t.number));
            // Each record is entered in the journal before it is sent, as `image load` does.
            written = WriteImageToController(ctx_.slot, now, t.image, bar.Callback(), &sizes,
                                             &report, &store);
        }
        if (!store.LastError().empty())
            t.detail += "; откат остановлен журналом: " + store.LastError();
        std::vector<uint8_t> again;
        int ctrl = t.number;
        LiveRecordStore live(ctx_.slot, ctrl);
        const bool same = written == ImageWriteResult::Written &&
                          ReadDeviceImage(live, again) == ImageSaveResult::Saved &&
                          again == t.image;
        t.rollback = same ? "restored" : "failed";
    }

    int Finish(int code) {
        Json list = Json::array();
        for (const Target& t : targets_) {
            Json item = {{"number", t.number}, {"state", StateName(t.state)}};
            Json changes = Json::array();
            for (const ProfileDeviation& d : t.read.changes)
                changes.push_back({{"record", d.record},
                                   {"field", d.entry->field},
                                   {"caption", d.caption},
                                   {"old", d.now},
                                   {"new", d.wanted}});
            item["changes"] = std::move(changes);
            if (!t.backup.empty()) item["backup"] = t.backup;
            if (!t.detail.empty()) item["detail"] = t.detail;
            if (t.holdsKnown) {
                Json holds = Json::array();
                for (const ProfileDeviation& d : t.holds)
                    holds.push_back({{"record", d.record},
                                     {"field", d.entry->field},
                                     {"caption", d.caption},
                                     {"value", d.now},
                                     {"profile", d.wanted}});
                item["holds"] = std::move(holds);
            }
            if (!t.rollback.empty()) item["rollback"] = t.rollback;
            list.push_back(std::move(item));
        }
        // Once anything was written, where every controller stands.
        if (!ctx_.json && !run_.name.empty()) {
            std::cout << "Итог:\n";
            for (const Target& t : targets_)
                std::cout << "  Трк №" << t.number << ": " << StateText(t.state) << '\n';
        }
        if (ctx_.json) {
            Json doc = {{"profile", profile_.name}, {"dryRun", args_.dryRun}};
            if (!run_.name.empty()) doc["backupFolder"] = run_.name;
            doc["controllers"] = std::move(list);
            PrintJson(doc);
        }
        PrintRetriedRequests(ctx_);
        return code;
    }

    void PrintPreview(const Target& t) const {
        std::cout << "Трк №" << t.number << ": " << StateText(t.state);
        if (t.state == State::WouldChange) std::cout << ", полей: " << t.read.changes.size();
        if (!t.detail.empty()) std::cout << ": " << t.detail;
        std::cout << '\n';
        for (const ProfileDeviation& d : t.read.changes)
            std::cout << "    " << DeviationLine(d) << '\n';
        std::cout.flush();
    }

    // As each controller is done, so that a long run shows its progress.
    void PrintResult(const Target& t) const {
        std::cout << "Трк №" << t.number << ": " << StateText(t.state);
        if (t.state == State::Verified) std::cout << ", полей: " << t.read.changes.size();
        if (!t.backup.empty()) std::cout << " (копия " << t.backup << ")";
        if (!t.detail.empty()) std::cout << ": " << t.detail;
        std::cout << '\n';
        if (t.state == State::Failed && t.holdsKnown) {
            std::cout << "  сейчас отличается от профиля полей: " << t.holds.size() << '\n';
            for (const ProfileDeviation& d : t.holds)
                std::cout << "    " << d.record << ": " << d.caption << ": " << d.now
                          << " (в профиле " << d.wanted << ")\n";
        }
        if (t.rollback == "restored") std::cout << "  откат: копия записана обратно, совпадает\n";
        if (t.rollback == "failed")
            std::cout << "  откат не удался: контроллер не совпадает с копией\n";
        std::cout.flush();
    }

    Context& ctx_;
    const Profile& profile_;
    const ProfileArgs& args_;
    std::vector<Target> targets_;
    std::string refusal_; // why the profile does not fit a controller's record sizes
    RunFolder run_;
    BackupManifest manifest_;
};

int Apply(Context& ctx, const std::vector<std::string>& args) {
    ProfileArgs a;
    if (!ParseProfileArgs(args, kApplyUsage, a)) return kExitUsage;
    int first = 0, last = 0;
    if (a.positional.empty() || !ParseRange(a.positional, 1, first, last))
        return Fail(kExitUsage, std::string("Использование: ") + kApplyUsage);
    if (ctx.store->IsDemo())
        return Fail(kExitUsage, "Команда apply недоступна в демонстрационном режиме");
    ProfileReadOptions options;
    options.metrological = a.metrological;
    Profile profile;
    if (const int code = LoadProfile(a.positional[0], options, profile); code != kExitOk)
        return code;
    return ApplyRun(ctx, profile, a).Run(first, last);
}

[[maybe_unused]] const bool kRegistered = RegisterCommand({"apply", kApplyUsage, Apply});

} // namespace
} // namespace velmar::cli
