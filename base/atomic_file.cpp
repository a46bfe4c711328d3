#include "base/atomic_file.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace velmar {

int ReadWholeFile(const std::string& path, std::vector<uint8_t>& out, size_t maxBytes) {
    out.clear();
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return kFileCannotOpen;
    std::vector<uint8_t> bytes;
    uint8_t buf[4096];
    int result = kFileOk;
    for (;;) {
        const size_t n = std::fread(buf, 1, sizeof buf, f);
        if (n > 0) {
            if (bytes.size() + n > maxBytes) {
                result = kFileTooLong;
                break;
            }
            bytes.insert(bytes.end(), buf, buf + n);
        }
        if (n < sizeof buf) {
            if (std::ferror(f)) result = kFileReadError;
            break;
        }
    }
    std::fclose(f);
    if (result == kFileOk) out = std::move(bytes);
    return result;
}

namespace {

std::string TempName(const std::string& path) {
    static std::atomic<unsigned> counter{0};
    return path + ".tmp" + std::to_string(::getpid()) + "_" + std::to_string(counter++);
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

int WriteFileAtomically(const std::string& path, const uint8_t* data, size_t size,
                        std::string* error) {
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
