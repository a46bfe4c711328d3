#include "cli/backup_run_folders.h"

#include "base/atomic_file.h"
#include "cli/backup_manifest.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace velmar::cli {
namespace {

constexpr size_t kStampLength = 15; // YYYYMMDD-HHMMSS
constexpr int kMaxRunsPerSecond = 99;

bool Exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

bool IsDirectory(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool EndsWith(const std::string& s, const std::string& end) {
    return s.size() >= end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
}

// Renames without replacing anything already at `to`.
bool RenameNoReplace(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    // A file system without the flag: the directory lock keeps other runs from racing here.
    if (Exists(to)) {
        errno = EEXIST;
        return false;
    }
    return std::rename(from.c_str(), to.c_str()) == 0;
}

// The folders of runs that were killed: each one no process holds any more is renamed to
// NAME.interrupted, its images kept, or removed when it holds nothing. Called under the
// directory's lock, so no run is being started meanwhile.
void TidyKilledRuns(const std::string& dir, std::vector<std::string>& notes) {
    std::vector<std::string> partial;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (const dirent* entry = ::readdir(d)) {
            const std::string name = entry->d_name;
            if (EndsWith(name, kPartialSuffix)) partial.push_back(name);
        }
        ::closedir(d);
    }
    for (const std::string& name : partial) {
        const std::string path = dir + "/" + name;
        const DirLock lock(path, false);
        if (!lock.Held()) continue; // a run in progress
        if (::rmdir(path.c_str()) == 0) continue;
        const std::string stem = name.substr(0, name.size() - std::strlen(kPartialSuffix));
        bool renamed = false;
        std::string target;
        for (int n = 1; n <= kMaxRunsPerSecond && !renamed; ++n) {
            target = stem + kInterruptedSuffix + (n == 1 ? "" : "-" + std::to_string(n));
            renamed = RenameNoReplace(path, dir + "/" + target);
        }
        notes.push_back(
            renamed ? "Прерванная копия " + path + " оставлена как " + dir + "/" + target
                    : "Прерванная копия " + path + " не переименована: " + std::strerror(errno));
    }
}

// DATE-TIME and N of a run name; false when it is not of that form.
bool ParseRunName(const std::string& name, std::string& stamp, int& n) {
    if (name.size() < kStampLength) return false;
    stamp = name.substr(0, kStampLength);
    for (size_t i = 0; i < kStampLength; ++i) {
        const bool dash = i == 8;
        if (dash ? stamp[i] != '-' : (stamp[i] < '0' || stamp[i] > '9')) return false;
    }
    n = 1;
    if (name.size() == kStampLength) return true;
    const std::string rest = name.substr(kStampLength);
    if (rest.size() < 2 || rest.size() > 4 || rest[0] != '-' ||
        rest.find_first_not_of("0123456789", 1) != std::string::npos)
        return false;
    n = std::stoi(rest.substr(1));
    return true;
}

// The number a run was given as it started (its folder's .sequence file), else its manifest's;
// -1 when the folder holds neither (no run of this tool), 0 for a run of an older version.
int64_t RunSequence(const std::string& dir, const std::string& name) {
    std::vector<uint8_t> bytes;
    constexpr size_t kNumberMaxBytes = 32;
    if (ReadWholeFile(dir + "/" + name + "/" + kSequenceName, bytes, kNumberMaxBytes) ==
        FileReadResult::Read)
        return std::atoll(std::string(bytes.begin(), bytes.end()).c_str());
    BackupManifest manifest;
    std::string error;
    return ReadManifest(dir + "/" + name, manifest, error) ? manifest.sequence : -1;
}

// One more than the highest number any run folder in `dir` was given (complete, in progress or
// interrupted); called under the directory's lock, so two runs never get the same number.
int64_t NextSequence(const std::string& dir) {
    int64_t last = 0;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (const dirent* entry = ::readdir(d)) {
            const std::string name = entry->d_name;
            if (name == "." || name == ".." || name == kLatestName) continue;
            std::vector<uint8_t> bytes;
            constexpr size_t kNumberMaxBytes = 32;
            if (ReadWholeFile(dir + "/" + name + "/" + kSequenceName, bytes, kNumberMaxBytes) ==
                FileReadResult::Read)
                last = std::max<int64_t>(
                    last, std::atoll(std::string(bytes.begin(), bytes.end()).c_str()));
        }
        ::closedir(d);
    }
    return last + 1;
}

} // namespace

DirLock::DirLock(const std::string& dir, bool wait) {
    fd_ = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd_ < 0) return;
    int r = 0;
    while ((r = ::flock(fd_, LOCK_EX | (wait ? 0 : LOCK_NB))) != 0 && errno == EINTR) {
    }
    if (r != 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

DirLock::DirLock(DirLock&& other) noexcept : fd_(other.fd_) {
    other.fd_ = -1;
}

DirLock& DirLock::operator=(DirLock&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

DirLock::~DirLock() {
    if (fd_ >= 0) ::close(fd_); // closing the last descriptor releases the lock
}

bool StartRun(const std::string& dir, RunFolder& run, std::vector<std::string>& notes,
              std::string& error) {
    if (::mkdir(dir.c_str(), 0777) != 0 && errno != EEXIST) {
        error = "Каталог " + dir + " не создан: " + std::strerror(errno);
        return false;
    }
    if (!IsDirectory(dir)) {
        error = "Каталог " + dir + " не создан: это не каталог";
        return false;
    }
    const DirLock dirLock(dir);
    if (!dirLock.Held()) {
        error = "Каталог " + dir + " недоступен: " + std::strerror(errno);
        return false;
    }
    TidyKilledRuns(dir, notes);
    const int64_t sequence = NextSequence(dir);
    const std::string stamp = LocalTime("%Y%m%d-%H%M%S");
    for (int n = 1; n <= kMaxRunsPerSecond; ++n) {
        const std::string name = n == 1 ? stamp : stamp + "-" + std::to_string(n);
        const std::string base = dir + "/" + name;
        if (Exists(base) || Exists(base + kInterruptedSuffix)) continue;
        const std::string path = base + kPartialSuffix;
        if (::mkdir(path.c_str(), 0777) != 0) {
            if (errno == EEXIST) continue;
            error = "Каталог " + path + " не создан: " + std::strerror(errno);
            return false;
        }
        // The number goes into the folder at once: a run started meanwhile counts past it.
        const std::string number = std::to_string(sequence) + "\n";
        std::string why;
        if (WriteFileAtomically(path + "/" + kSequenceName,
                                reinterpret_cast<const uint8_t*>(number.data()), number.size(),
                                &why) != 0) {
            ::rmdir(path.c_str());
            error = "Номер копии в " + path + " не записан: " + why;
            return false;
        }
        run.name = name;
        run.sequence = sequence;
        run.path = path;
        run.lock = DirLock(path);
        return true;
    }
    error = "Каталог копии в " + dir + " не создан: слишком много копий за одну секунду";
    return false;
}

bool FinishRun(const std::string& dir, const RunFolder& run, std::string& error) {
    const DirLock dirLock(dir);
    const std::string done = dir + "/" + run.name;
    if (!RenameNoReplace(run.path, done)) {
        error = "Каталог " + run.path + " не переименован в " + done + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

bool AdvanceLatest(const std::string& dir, const std::string& name, int64_t sequence,
                   std::string& error) {
    const DirLock dirLock(dir);
    const std::string link = dir + "/" + kLatestName;
    char target[4096];
    const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
    if (n > 0) {
        const std::string current(target, static_cast<size_t>(n));
        const int64_t held = RunSequence(dir, current);
        // Numbered runs follow their numbers, and follow every run of an older version; a folder
        // that is no run of this tool is judged by its name's time.
        if (held > sequence || (held < 0 && RunNameLater(current, name))) return true;
    }
    // A new link renamed over the old one, so that it always names a complete run.
    const std::string temp = link + ".new" + std::to_string(::getpid());
    ::unlink(temp.c_str());
    if (::symlink(name.c_str(), temp.c_str()) != 0 ||
        std::rename(temp.c_str(), link.c_str()) != 0) {
        error = "Ссылка " + link + " не обновлена: " + std::strerror(errno);
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}

bool RunNameLater(const std::string& a, const std::string& b) {
    std::string stampA;
    std::string stampB;
    int nA = 0;
    int nB = 0;
    const bool okA = ParseRunName(a, stampA, nA);
    const bool okB = ParseRunName(b, stampB, nB);
    if (!okA || !okB) return okA && !okB;
    return stampA != stampB ? stampA > stampB : nA > nB;
}

} // namespace velmar::cli
