#include "FileSystem.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "Text.h"

namespace {

// 100 ns intervals between 1601-01-01 and 1970-01-01.
constexpr int64_t EpochDifference = 116444736000000000LL;

// Member names separate components with '\'; here both '\' and '/' separate.
struct NativePath {
    explicit NativePath(const char* path) {
        CopyText(text, sizeof text, path);
        for (char* c = text; *c; ++c)
            if (*c == '\\') *c = '/';
    }
    char text[4096];
};

uint64_t ToFileTime(const timespec& t) {
    return static_cast<uint64_t>(int64_t(t.tv_sec) * 10000000 + t.tv_nsec / 100 + EpochDifference);
}

// Any FILETIME an archive holds, without overflow: seconds since 1601 fit easily in 64 bits.
timespec ToTimespec(uint64_t fileTime) {
    timespec t;
    t.tv_sec = static_cast<time_t>(int64_t(fileTime / 10000000) - EpochDifference / 10000000);
    t.tv_nsec = static_cast<long>(fileTime % 10000000 * 100);
    return t;
}

enum class Kind { Any, Regular };

// Opens without blocking on a FIFO that stands at the path, and refuses it: no member or volume
// is ever one. Kind::Regular keeps plain files only.
int OpenDescriptor(const char* path, int flags, Kind kind) {
    const NativePath native(path);
    const int fd = open(native.text, flags | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0) return -1;
    struct stat info;
    if (fstat(fd, &info) != 0 || S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode) ||
        (kind == Kind::Regular && !S_ISREG(info.st_mode))) {
        close(fd);
        return -1;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

}  // namespace

std::FILE* OpenFile(const char* path, const char* mode) {
    // Writing never follows a link that stands where a member goes: it could point anywhere.
    const int fd = mode[0] == 'w' ? OpenDescriptor(path, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW, Kind::Any)
                                  : OpenDescriptor(path, O_RDONLY, Kind::Any);
    if (fd < 0) return nullptr;
    std::FILE* file = fdopen(fd, mode);
    if (!file) close(fd);
    return file;
}

namespace {

FileError ErrorOf(int error) {
    switch (error) {
    case EEXIST: return FileError::Exists;
    case EISDIR: return FileError::IsDirectory;
    case EACCES:
    case EPERM:
    case EROFS: return FileError::AccessDenied;
    case ENOTDIR:
    case ENOENT: return FileError::NotDirectory;
    case ELOOP: return FileError::Link;
    case ENOSPC:
    case EDQUOT:
    case EFBIG: return FileError::NoSpace;
    default: return FileError::Other;
    }
}

bool Failed(FileError* error) {
    if (error) *error = ErrorOf(errno);
    return false;
}

}  // namespace

PathKind QueryPath(const char* path) {
    const NativePath native(path);
    struct stat info;
    if (lstat(native.text, &info) != 0) return PathKind::Missing;
    if (S_ISLNK(info.st_mode)) return PathKind::Link;
    if (S_ISDIR(info.st_mode)) return PathKind::Directory;
    if (S_ISREG(info.st_mode)) return PathKind::File;
    return PathKind::Other;
}

FileHandle CreateNewFile(const char* path, FileError* error) {
    const NativePath native(path);
    const int fd = open(native.text, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) {
        Failed(error);
        return NoFile;
    }
    return fd;
}

bool WriteToFile(FileHandle file, const void* bytes, size_t count, FileError* error) {
    const auto* p = static_cast<const unsigned char*>(bytes);
    while (count > 0) {
        const ssize_t written = write(static_cast<int>(file), p, count);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            if (written == 0) errno = ENOSPC;
            return Failed(error);
        }
        p += written;
        count -= static_cast<size_t>(written);
    }
    return true;
}

bool CloseOutputFile(FileHandle file, FileError* error) {
    // Network file systems report some failed writes only here.
    return close(static_cast<int>(file)) == 0 || Failed(error);
}

bool MoveOverFile(const char* from, const char* to, FileError* error) {
    const NativePath source(from);
    const NativePath target(to);
    return std::rename(source.text, target.text) == 0 || Failed(error);
}

bool RemoveFile(const char* path) {
    const NativePath native(path);
    return unlink(native.text) == 0;
}

bool MakeDirectory(const char* path) {
    const NativePath native(path);
    return mkdir(native.text, 0777) == 0;
}

bool ReadLastWriteTime(const char* path, uint64_t* lastWriteTime) {
    const int fd = OpenDescriptor(path, O_RDONLY | O_NOFOLLOW, Kind::Regular);
    if (fd < 0) return false;
    struct stat info;
    const bool ok = fstat(fd, &info) == 0;
    close(fd);
    if (ok) *lastWriteTime = ToFileTime(info.st_mtim);
    return ok;
}

bool SetFileTimes(const char* path, uint64_t /*creationTime: POSIX cannot set it*/,
                  uint64_t lastAccessTime, uint64_t lastWriteTime) {
    const int fd = OpenDescriptor(path, O_RDWR | O_NOFOLLOW, Kind::Regular);
    if (fd < 0) return false;
    const timespec times[2] = {ToTimespec(lastAccessTime), ToTimespec(lastWriteTime)};
    const bool ok = futimens(fd, times) == 0;
    close(fd);
    return ok;
}

int CompareFileTimes(uint64_t a, uint64_t b) { return a < b ? -1 : a > b ? 1 : 0; }

const char* NullDeviceName() { return "/dev/null"; }

void YieldThread() { sched_yield(); }
