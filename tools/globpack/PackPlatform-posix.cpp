#include "PackPlatform.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "UnixTime.h"

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + argc);
}

const bool PlatformKeepsCreationTime = false;

bool DefaultStubPath(std::filesystem::path* stub) {
    std::error_code ec;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) return false;
    *stub = self.parent_path() / "SETUP.EXE";
    return true;
}

bool ReadSourceFacts(const std::filesystem::path& path, SourceFacts* facts, std::string* error) {
    struct statx sx;
    if (statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS | STATX_BTIME, &sx) ==
        0) {
        facts->size = sx.stx_size;
        facts->changeTime = FileTimeFromUnix(sx.stx_ctime.tv_sec, sx.stx_ctime.tv_nsec);
        facts->lastAccessTime = FileTimeFromUnix(sx.stx_atime.tv_sec, sx.stx_atime.tv_nsec);
        facts->lastWriteTime = FileTimeFromUnix(sx.stx_mtime.tv_sec, sx.stx_mtime.tv_nsec);
        facts->creationTime = (sx.stx_mask & STATX_BTIME)
                                  ? FileTimeFromUnix(sx.stx_btime.tv_sec, sx.stx_btime.tv_nsec)
                                  : facts->lastWriteTime;
        return true;
    }
    // Kernels and sandboxes without statx still answer lstat.
    if (errno != ENOSYS && errno != EPERM) {
        *error = std::strerror(errno);
        return false;
    }
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) {
        *error = std::strerror(errno);
        return false;
    }
    facts->size = static_cast<uint64_t>(st.st_size);
    facts->lastAccessTime = FileTimeFromUnix(st.st_atim.tv_sec, st.st_atim.tv_nsec);
    facts->lastWriteTime = FileTimeFromUnix(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
    facts->changeTime = FileTimeFromUnix(st.st_ctim.tv_sec, st.st_ctim.tv_nsec);
    facts->creationTime = facts->lastWriteTime;
    return true;
}

bool IsLink(const std::filesystem::path& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

bool ResolvePath(const std::filesystem::path& path, std::filesystem::path* resolved,
                 std::string* error) {
    std::error_code ec;
    *resolved = std::filesystem::canonical(path, ec);
    if (ec) *error = ec.message();
    return !ec;
}

bool SourceReader::Open(const std::filesystem::path& path, std::string* error) {
    Close();
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOATIME);
    // O_NOATIME is allowed only to the file's owner.
    if (fd < 0 && errno == EPERM) fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *error = std::strerror(errno);
        return false;
    }
    file = fdopen(fd, "rb");
    if (!file) {
        *error = std::strerror(errno);
        close(fd);
        return false;
    }
    return true;
}

void SourceReader::Close() {
    if (file) std::fclose(file);
    file = nullptr;
}
