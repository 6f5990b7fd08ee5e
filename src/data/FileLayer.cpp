#include "data/FileLayer.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace xb {

int FileLayer::renameNoReplace(const std::string& from, const std::string& to)
{
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return -1;
    // A file system without the flag: a hard link fails just the same when
    // the name exists.
    if (::link(from.c_str(), to.c_str()) != 0)
        return -1;
    ::unlink(from.c_str());
    return 0;
}

namespace {
int rangeLock(int fd, short type, uint64_t offset, uint64_t length)
{
    struct flock l {};
    l.l_type = type;
    l.l_whence = SEEK_SET;
    l.l_start = off_t(offset);
    l.l_len = off_t(length);
    l.l_pid = 0;
    for (;;) {
        if (::fcntl(fd, F_OFD_SETLK, &l) == 0)
            return 0;
        if (errno != EINTR)
            return -1;
    }
}
}  // namespace

int FileLayer::lock(int fd, uint64_t offset, uint64_t length) { return rangeLock(fd, F_WRLCK, offset, length); }

int FileLayer::unlock(int fd, uint64_t offset, uint64_t length) { return rangeLock(fd, F_UNLCK, offset, length); }

bool FileLayer::readAll(int fd, void* buf, std::size_t n, uint64_t offset, std::string* why)
{
    char* p = static_cast<char*>(buf);
    while (n > 0) {
        ssize_t r = pread(fd, p, n, offset);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            if (why)
                *why = std::strerror(errno);
            return false;
        }
        if (r == 0) {
            if (why)
                *why = "the file ends before the bytes asked for";
            errno = EIO;
            return false;
        }
        p += r;
        n -= std::size_t(r);
        offset += uint64_t(r);
    }
    return true;
}

bool FileLayer::writeAll(int fd, const void* buf, std::size_t n, uint64_t offset, std::string* why)
{
    const char* p = static_cast<const char*>(buf);
    while (n > 0) {
        ssize_t w = pwrite(fd, p, n, offset);
        if (w < 0) {
            if (errno == EINTR)
                continue;
            if (why)
                *why = std::strerror(errno);
            return false;
        }
        if (w == 0) {
            if (why)
                *why = "nothing could be written";
            errno = EIO;
            return false;
        }
        p += w;
        n -= std::size_t(w);
        offset += uint64_t(w);
    }
    return true;
}

int FileLayer::makeTemporary(const std::string& prefix, std::string& path, mode_t mode)
{
    static const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    static std::mt19937_64 rng(std::random_device {}() ^ uint64_t(::getpid()));
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = prefix;
        for (int i = 0; i < 6; ++i)
            name += letters[rng() % (sizeof letters - 1)];
        // Made anew, never over a file or through a link planted at the name.
        int fd = open(name, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd >= 0) {
            path = name;
            return fd;
        }
        if (errno != EEXIST)
            return -1;
    }
    errno = EEXIST;
    return -1;
}

namespace {

class PosixFiles final : public FileLayer {
public:
    int open(const std::string& path, int flags, mode_t mode) override
    {
        int fd;
        do
            fd = ::open(path.c_str(), flags | O_CLOEXEC, mode);
        while (fd < 0 && errno == EINTR);
        return fd;
    }
    int close(int fd) override { return ::close(fd); }
    ssize_t pread(int fd, void* buf, std::size_t n, uint64_t offset) override
    {
        return ::pread(fd, buf, n, off_t(offset));
    }
    ssize_t pwrite(int fd, const void* buf, std::size_t n, uint64_t offset) override
    {
        return ::pwrite(fd, buf, n, off_t(offset));
    }
    int sync(int fd) override { return ::fdatasync(fd); }
    int size(int fd, uint64_t& bytes) override
    {
        struct stat st;
        if (::fstat(fd, &st) != 0)
            return -1;
        bytes = uint64_t(st.st_size);
        return 0;
    }
    int truncate(int fd, uint64_t bytes) override { return ::ftruncate(fd, off_t(bytes)); }
    int rename(const std::string& from, const std::string& to) override { return ::rename(from.c_str(), to.c_str()); }
    int remove(const std::string& path) override { return ::unlink(path.c_str()); }
    int makeDirectory(const std::string& path, mode_t mode) override { return ::mkdir(path.c_str(), mode); }
    int syncDirectory(const std::string& directory) override
    {
        int fd = ::open(directory.empty() ? "." : directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0)
            return -1;
        int r = ::fsync(fd);
        ::close(fd);
        return r;
    }
};

}  // namespace

FileLayer& posixFiles()
{
    static PosixFiles files;
    return files;
}

}  // namespace xb
