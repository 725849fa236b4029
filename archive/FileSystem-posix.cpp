#include "FileSystem.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

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

timespec ToTimespec(uint64_t fileTime) {
    const int64_t since1970 = static_cast<int64_t>(fileTime) - EpochDifference;
    int64_t seconds = since1970 / 10000000;
    int64_t rest = since1970 % 10000000;
    if (rest < 0) {
        rest += 10000000;
        --seconds;
    }
    timespec t;
    t.tv_sec = static_cast<time_t>(seconds);
    t.tv_nsec = static_cast<long>(rest * 100);
    return t;
}

}  // namespace

std::FILE* OpenFile(const char* path, const char* mode) {
    const NativePath native(path);
    if (mode[0] != 'w') return std::fopen(native.text, mode);
    // Never write through a link that stands where a member goes: it could point anywhere.
    const int fd = open(native.text, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) return nullptr;
    std::FILE* file = fdopen(fd, mode);
    if (!file) close(fd);
    return file;
}

bool MakeDirectory(const char* path) {
    const NativePath native(path);
    return mkdir(native.text, 0777) == 0;
}

bool ReadLastWriteTime(const char* path, uint64_t* lastWriteTime) {
    const NativePath native(path);
    const int fd = open(native.text, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat info;
    const bool ok = fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    close(fd);
    if (ok) *lastWriteTime = ToFileTime(info.st_mtim);
    return ok;
}

bool SetFileTimes(const char* path, uint64_t /*creationTime: POSIX cannot set it*/,
                  uint64_t lastAccessTime, uint64_t lastWriteTime) {
    const NativePath native(path);
    const int fd = open(native.text, O_RDWR | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return false;
    const timespec times[2] = {ToTimespec(lastAccessTime), ToTimespec(lastWriteTime)};
    const bool ok = futimens(fd, times) == 0;
    close(fd);
    return ok;
}

int CompareFileTimes(uint64_t a, uint64_t b) { return a < b ? -1 : a > b ? 1 : 0; }

const char* NullDeviceName() { return "/dev/null"; }

void YieldThread() { sched_yield(); }
