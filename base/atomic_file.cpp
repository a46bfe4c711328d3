#include "base/atomic_file.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velmar {

FileReadResult ReadWholeFile(const std::string& path, std::vector<uint8_t>& out, size_t maxBytes) {
    out.clear();
    // Non-blocking open: a FIFO must not hold the caller until a writer appears.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return FileReadResult::CannotOpen;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return FileReadResult::CannotOpen;
    }
    std::FILE* f = ::fdopen(fd, "rb");
    if (!f) {
        ::close(fd);
        return FileReadResult::CannotOpen;
    }
    std::vector<uint8_t> bytes;
    uint8_t buf[4096];
    FileReadResult result = FileReadResult::Read;
    for (;;) {
        const size_t n = std::fread(buf, 1, sizeof buf, f);
        if (n > 0) {
            if (bytes.size() + n > maxBytes) {
                result = FileReadResult::TooLong;
                break;
            }
            bytes.insert(bytes.end(), buf, buf + n);
        }
        if (n < sizeof buf) {
            if (std::ferror(f)) result = FileReadResult::ReadError;
            break;
        }
    }
    std::fclose(f);
    if (result == FileReadResult::Read) out = std::move(bytes);
    return result;
}

namespace {

constexpr const char* kTempInfix = ".tmp";

std::string TempName(const std::string& path) {
    static std::atomic<unsigned> counter{0};
    return path + kTempInfix + std::to_string(::getpid()) + "_" + std::to_string(counter++);
}

// The process id in a temporary name "<base>.tmp<pid>_<n>" of `base`, or 0.
pid_t TempOwner(const std::string& name, const std::string& base) {
    const std::string prefix = base + kTempInfix;
    if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) return 0;
    const std::string rest = name.substr(prefix.size());
    const size_t underscore = rest.find('_');
    if (underscore == 0 || underscore == std::string::npos || underscore + 1 == rest.size() ||
        rest.find_first_not_of("0123456789_") != std::string::npos ||
        rest.find('_', underscore + 1) != std::string::npos || underscore > 9)
        return 0;
    return static_cast<pid_t>(std::stol(rest.substr(0, underscore)));
}

// A write killed between creating its temporary file and the rename (during fsync, say) leaves
// that file behind; the next write of the same target removes those of processes that are gone.
void RemoveStaleTemps(const std::string& path) {
    const size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "./" : path.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    DIR* d = ::opendir(dir.c_str());
    if (d == nullptr) return;
    while (const dirent* entry = ::readdir(d)) {
        const pid_t owner = TempOwner(entry->d_name, base);
        if (owner <= 0 || owner == ::getpid()) continue;
        if (::kill(owner, 0) == 0 || errno != ESRCH) continue; // still running (or not ours)
        ::unlink((dir + entry->d_name).c_str());
    }
    ::closedir(d);
}

// Makes a rename in the file's directory durable; a directory that cannot be synced (some
// file systems) leaves the rename to the system's own schedule.
void SyncDirectoryOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    (void)::fsync(fd);
    ::close(fd);
}

int Fail(int err, const char* what, const std::string& path, std::string* error) {
    if (error) *error = std::string(what) + " " + path + ": " + std::strerror(err);
    return err;
}

} // namespace

std::string ReplaceRefusal(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return {};
    if (S_ISREG(st.st_mode)) return {};
    if (S_ISLNK(st.st_mode)) return "это символическая ссылка, а не обычный файл";
    if (S_ISDIR(st.st_mode)) return "это каталог, а не файл";
    if (S_ISFIFO(st.st_mode)) return "это канал (FIFO), а не обычный файл";
    if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)) return "это устройство, а не обычный файл";
    if (S_ISSOCK(st.st_mode)) return "это сокет, а не обычный файл";
    return "это не обычный файл";
}

int WriteFileAtomically(const std::string& path, const uint8_t* data, size_t size,
                        std::string* error) {
    // A rename would put a regular file in place of a device, a FIFO or a directory: /dev/null
    // itself, when run as root. A symbolic link is replaced (settings files may be links the
    // user set up; the callers that must not replace one check ReplaceRefusal first).
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)) {
        if (error) *error = "файл " + path + " не заменен: " + ReplaceRefusal(path);
        return EEXIST;
    }
    RemoveStaleTemps(path);
    const std::string temp = TempName(path);
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return Fail(errno, "не удалось создать файл", temp, error);
    size_t done = 0;
    int err = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            err = errno;
            break;
        }
        done += static_cast<size_t>(n);
    }
    if (!err && ::fsync(fd) != 0) err = errno;
    if (::close(fd) != 0 && !err) err = errno;
    if (!err && std::rename(temp.c_str(), path.c_str()) != 0) err = errno;
    if (err) {
        ::unlink(temp.c_str());
        return Fail(err, "не удалось записать файл", path, error);
    }
    SyncDirectoryOf(path);
    return 0;
}

} // namespace velmar
