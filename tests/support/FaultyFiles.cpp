#include "FaultyFiles.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace testsupport {

void FaultyFiles::failNth(Op op, int n, int error, bool andAfter)
{
    faults_.push_back({op, count(op) + n, error, andAfter});
}

void FaultyFiles::cutAtNth(Op op, int n)
{
    faults_.push_back({op, count(op) + n, EIO, false, true});
}

int FaultyFiles::count(Op op) const
{
    auto it = calls_.find(op);
    return it == calls_.end() ? 0 : it->second;
}

bool FaultyFiles::injected(Op op)
{
    const int n = ++calls_[op];
    for (const Fault& f : faults_)
        if (f.op == op && (n == f.at || (f.andAfter && n > f.at))) {
            ++given_;
            if (f.cut)
                powerCut();
            errno = f.error;
            return true;
        }
    return false;
}

bool FaultyFiles::deadCall()
{
    if (!dead_)
        return false;
    errno = EIO;
    return true;
}

std::string FaultyFiles::directoryOf(const std::string& path) const
{
    std::string dir = path;
    while (dir.size() > 1 && dir.back() == '/')
        dir.pop_back();
    std::size_t slash = dir.rfind('/');
    dir = slash == std::string::npos ? "." : slash == 0 ? "/" : dir.substr(0, slash);
    char real[PATH_MAX];
    return ::realpath(dir.c_str(), real) ? std::string(real) : dir;
}

int FaultyFiles::nodeOf(dev_t dev, ino_t ino, bool* fresh)
{
    auto [it, added] = live_.try_emplace({dev, ino}, 0);
    if (added)
        it->second = nextNode_++;
    if (fresh)
        *fresh = added;
    return it->second;
}

// The whole file behind fd, read through a descriptor of its own (fd may be
// open for writing only).
std::string FaultyFiles::contentOf(int fd)
{
    std::string s;
    int in = ::open(("/proc/self/fd/" + std::to_string(fd)).c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return s;
    char buf[65536];
    for (ssize_t r; (r = ::read(in, buf, sizeof buf)) > 0;)
        s.append(buf, std::size_t(r));
    ::close(in);
    return s;
}

// The regular files of a directory, by name, with the test's number of each;
// a file not seen before counts as on the disk as it is.
std::map<std::string, int> FaultyFiles::listing(const std::string& directory)
{
    std::map<std::string, int> names;
    DIR* d = ::opendir(directory.c_str());
    if (!d)
        return names;
    while (dirent* e = ::readdir(d)) {
        std::string full = directory + "/" + e->d_name;
        struct stat st;
        if (::lstat(full.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
            continue;
        bool fresh = false;
        int node = nodeOf(st.st_dev, st.st_ino, &fresh);
        if (fresh) {
            int fd = ::open(full.c_str(), O_RDONLY | O_CLOEXEC);
            durable_[node] = fd >= 0 ? contentOf(fd) : std::string();
            if (fd >= 0)
                ::close(fd);
        }
        names[e->d_name] = node;
    }
    ::closedir(d);
    return names;
}

void FaultyFiles::watch(const std::string& directory)
{
    if (!directories_.count(directory))
        directories_[directory] = listing(directory);
}

int FaultyFiles::open(const std::string& path, int flags, mode_t mode)
{
    if (deadCall())
        return -1;
    watch(directoryOf(path));
    struct stat before;
    const bool existed = ::stat(path.c_str(), &before) == 0;
    int fd = under_.open(path, flags, mode);
    if (fd < 0)
        return fd;
    struct stat st;
    if (::fstat(fd, &st) == 0) {
        if (!existed) {
            // A new file: nothing of it is on the disk until it is synced.
            live_[{st.st_dev, st.st_ino}] = nextNode_;
            durable_[nextNode_++] = std::string();
        } else {
            nodeOf(st.st_dev, st.st_ino);
        }
    }
    return fd;
}

int FaultyFiles::close(int fd) { return under_.close(fd); }

ssize_t FaultyFiles::pread(int fd, void* buf, std::size_t n, uint64_t offset)
{
    if (deadCall())
        return -1;
    return under_.pread(fd, buf, n, offset);
}

ssize_t FaultyFiles::pwrite(int fd, const void* buf, std::size_t n, uint64_t offset)
{
    if (deadCall() || injected(Op::Write))
        return -1;
    return under_.pwrite(fd, buf, n, offset);
}

int FaultyFiles::sync(int fd)
{
    if (deadCall() || injected(Op::Sync))
        return -1;
    int r = under_.sync(fd);
    struct stat st;
    if (r == 0 && ::fstat(fd, &st) == 0)
        durable_[nodeOf(st.st_dev, st.st_ino)] = contentOf(fd);
    return r;
}

int FaultyFiles::size(int fd, uint64_t& bytes)
{
    if (deadCall())
        return -1;
    return under_.size(fd, bytes);
}

int FaultyFiles::truncate(int fd, uint64_t bytes)
{
    if (deadCall() || injected(Op::Truncate))
        return -1;
    return under_.truncate(fd, bytes);
}

int FaultyFiles::rename(const std::string& from, const std::string& to)
{
    if (deadCall() || injected(Op::Rename))
        return -1;
    watch(directoryOf(from));
    watch(directoryOf(to));
    return under_.rename(from, to);
}

int FaultyFiles::renameNoReplace(const std::string& from, const std::string& to)
{
    if (deadCall() || injected(Op::Rename))
        return -1;
    watch(directoryOf(from));
    watch(directoryOf(to));
    return under_.renameNoReplace(from, to);
}

int FaultyFiles::remove(const std::string& path)
{
    if (deadCall())
        return -1;
    watch(directoryOf(path));
    return under_.remove(path);
}

int FaultyFiles::makeDirectory(const std::string& path, mode_t mode)
{
    if (deadCall())
        return -1;
    watch(directoryOf(path));
    return under_.makeDirectory(path, mode);
}

int FaultyFiles::syncDirectory(const std::string& directory)
{
    if (deadCall() || injected(Op::Sync))
        return -1;
    int r = under_.syncDirectory(directory);
    if (r == 0) {
        char real[PATH_MAX];
        std::string dir = ::realpath(directory.c_str(), real) ? std::string(real) : directory;
        directories_[dir] = listing(dir);
    }
    return r;
}

void FaultyFiles::powerCut()
{
    for (const auto& [dir, names] : directories_) {
        for (const auto& [name, node] : listing(dir))
            if (!names.count(name))
                ::unlink((dir + "/" + name).c_str());
        for (const auto& [name, node] : names) {
            // A new file in place of the old name: handles still open keep
            // the old one, and write nothing more (every call fails now).
            const std::string full = dir + "/" + name;
            struct stat st;
            mode_t mode = ::stat(full.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0644;
            ::unlink(full.c_str());
            int fd = ::open(full.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
            if (fd < 0)
                continue;
            const std::string& bytes = durable_[node];
            for (std::size_t done = 0; done < bytes.size();) {
                ssize_t w = ::write(fd, bytes.data() + done, bytes.size() - done);
                if (w <= 0)
                    break;
                done += std::size_t(w);
            }
            ::close(fd);
        }
    }
    // What is on the disk now is all there is.
    live_.clear();
    durable_.clear();
    directories_.clear();
    dead_ = true;
}

}  // namespace testsupport
