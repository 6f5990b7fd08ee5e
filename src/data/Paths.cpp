#include "data/Paths.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace xb {
namespace {

bool sameNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        unsigned char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = x - 'A' + 'a';
        if (y >= 'A' && y <= 'Z') y = y - 'A' + 'a';
        if (x != y)
            return false;
    }
    return true;
}

bool exists(const std::string& p, struct stat* st = nullptr)
{
    struct stat s;
    if (::stat(p.c_str(), &s) != 0)
        return false;
    if (st)
        *st = s;
    return true;
}

// The entry of `dir` whose name equals `name` without regard to case; the
// alphabetically first when several do, so the answer does not depend on the
// order of the directory.
bool findNoCase(const std::string& dir, std::string_view name, std::string& found)
{
    DIR* d = ::opendir(dir.empty() ? "." : dir.c_str());
    if (!d)
        return false;
    bool any = false;
    while (dirent* e = ::readdir(d)) {
        std::string_view n(e->d_name);
        if (n == "." || n == "..")
            continue;
        if (sameNoCase(n, name) && (!any || n < found)) {
            found.assign(n);
            any = true;
        }
    }
    ::closedir(d);
    return any;
}

}  // namespace

std::string resolvePath(std::string_view in)
{
    std::string path(in);
    for (char& c : path)
        if (c == '\\')
            c = '/';
    if (path.empty() || exists(path))
        return path;

    std::vector<std::string> parts;
    std::size_t start = 0;
    bool absolute = path[0] == '/';
    while (start <= path.size()) {
        std::size_t slash = path.find('/', start);
        if (slash == std::string::npos)
            slash = path.size();
        if (slash > start)
            parts.emplace_back(path.substr(start, slash - start));
        start = slash + 1;
    }
    bool trailing = path.back() == '/';

    std::string cur = absolute ? "/" : "";
    std::size_t i = 0;
    for (; i < parts.size(); ++i) {
        const std::string& part = parts[i];
        std::string candidate = cur + part;
        if (part == "." || part == ".." || exists(candidate)) {
            cur = candidate;
        } else {
            std::string found;
            if (!findNoCase(cur, part, found))
                break;
            cur += found;
        }
        if (i + 1 < parts.size())
            cur += '/';
    }
    for (; i < parts.size(); ++i) {
        cur += parts[i];
        if (i + 1 < parts.size())
            cur += '/';
    }
    if (trailing && (cur.empty() || cur.back() != '/'))
        cur += '/';
    return cur;
}

bool fileExists(std::string_view path)
{
    struct stat st;
    return exists(resolvePath(path), &st) && S_ISREG(st.st_mode);
}

bool directoryExists(std::string_view path)
{
    struct stat st;
    return exists(resolvePath(path), &st) && S_ISDIR(st.st_mode);
}

std::string addBackslash(std::string_view text)
{
    std::string r(text);
    if (!r.empty() && r.back() != '/' && r.back() != '\\')
        r += '/';
    return r;
}

bool makeDir(std::string_view in)
{
    std::string path = resolvePath(in);
    if (path.empty())
        return false;
    std::string cur;
    for (std::size_t i = 0; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '/') {
            if (!cur.empty() && cur != "/") {
                if (::mkdir(cur.c_str(), 0777) != 0 && errno != EEXIST)
                    return false;
            }
        }
        if (i < path.size())
            cur += path[i];
    }
    return directoryExists(path);
}

std::string baseName(std::string_view path)
{
    std::size_t p = path.find_last_of("/\\");
    return std::string(p == std::string_view::npos ? path : path.substr(p + 1));
}

std::string directoryOf(std::string_view path)
{
    std::size_t p = path.find_last_of("/\\");
    return p == std::string_view::npos ? std::string() : std::string(path.substr(0, p + 1));
}

std::string replaceExtension(std::string_view path, std::string_view ext)
{
    std::string base = baseName(path);
    std::string dir = directoryOf(path);
    std::size_t dot = base.rfind('.');
    if (dot != std::string::npos && dot > 0)
        base.resize(dot);
    return dir + base + std::string(ext);
}

void syncDirectoryOf(std::string_view path, FileLayer& files)
{
    std::string dir = directoryOf(path);
    files.syncDirectory(dir.empty() ? "." : dir);
}

bool copyFile(std::string_view sourceIn, std::string_view targetIn, std::string* error)
{
    auto fail = [&](const std::string& what) {
        if (error)
            *error = what;
        return false;
    };
    std::string source = resolvePath(sourceIn);
    std::string target = resolvePath(targetIn);
    int in = ::open(source.c_str(), O_RDONLY);
    if (in < 0)
        return fail(source + ": cannot be opened for reading (" + std::strerror(errno) + ")");
    std::string tmp;
    int out = posixFiles().makeTemporary(target + ".copy-", tmp);
    if (out < 0) {
        int e = errno;
        ::close(in);
        return fail(target + ": cannot be written (" + std::strerror(e) + ")");
    }
    std::vector<char> buf(1 << 20);
    bool ok = true;
    std::string why;
    for (;;) {
        ssize_t n = ::read(in, buf.data(), buf.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            ok = false;
            why = source + ": read failed (" + std::strerror(errno) + ")";
            break;
        }
        if (n == 0)
            break;
        for (ssize_t done = 0; done < n;) {
            ssize_t w = ::write(out, buf.data() + done, std::size_t(n - done));
            if (w < 0) {
                if (errno == EINTR)
                    continue;
                ok = false;
                why = target + ": write failed (" + std::strerror(errno) + ")";
                break;
            }
            done += w;
        }
        if (!ok)
            break;
    }
    struct stat st;
    if (ok && ::fstat(in, &st) == 0)
        ::fchmod(out, st.st_mode & 0777);
    if (ok && ::fsync(out) != 0) {
        ok = false;
        why = target + ": cannot be flushed to disk (" + std::strerror(errno) + ")";
    }
    ::close(in);
    if (::close(out) != 0 && ok) {
        ok = false;
        why = target + ": write failed (" + std::strerror(errno) + ")";
    }
    if (ok && ::rename(tmp.c_str(), target.c_str()) != 0) {
        ok = false;
        why = target + ": cannot be replaced (" + std::strerror(errno) + ")";
    }
    if (!ok) {
        ::unlink(tmp.c_str());
        return fail(why);
    }
    syncDirectoryOf(target);
    return true;
}

void removeLeftoverCopies(std::string_view targetIn)
{
    const std::string target(targetIn);
    const std::string dir = directoryOf(target).empty() ? "./" : directoryOf(target);
    const std::string copy = baseName(target) + ".copy-";
    const std::string made = baseName(target) + ".new-";
    DIR* d = ::opendir(dir.c_str());
    if (!d)
        return;
    std::vector<std::string> found;
    while (dirent* e = ::readdir(d)) {
        const std::string_view name(e->d_name);
        if (name.substr(0, copy.size()) == copy || name.substr(0, made.size()) == made)
            found.push_back(dir + e->d_name);
    }
    ::closedir(d);
    for (const std::string& f : found)
        ::unlink(f.c_str());
}

namespace {
// Writes the text beside `path`, under a name made exclusively (see
// FileLayer::makeTemporary), and renames it into place; `durable` flushes
// the file and then its directory to the disk.
bool writeBeside(std::string_view pathIn, std::string_view text, std::string* error, FileLayer& files, bool durable)
{
    const std::string path(pathIn);
    std::string tmp;
    auto fail = [&](const std::string& why) {
        if (error)
            *error = path + ": " + why;
        if (!tmp.empty())
            files.remove(tmp);
        return false;
    };
    int fd = files.makeTemporary(path + ".new-", tmp, 0666);
    if (fd < 0)
        return fail(std::strerror(errno));
    std::string why;
    bool ok = files.writeAll(fd, text.data(), text.size(), 0, &why);
    if (ok && durable && files.sync(fd) != 0) {
        why = std::strerror(errno);
        ok = false;
    }
    if (files.close(fd) != 0 && ok) {
        why = std::strerror(errno);
        ok = false;
    }
    if (ok && files.rename(tmp, path) != 0) {
        why = std::strerror(errno);
        ok = false;
    }
    if (!ok)
        return fail(why);
    if (durable && files.syncDirectory(directoryOf(path).empty() ? "." : directoryOf(path)) != 0) {
        if (error)
            *error = path + ": its directory cannot be flushed to disk (" + std::strerror(errno) + ")";
        return false;
    }
    return true;
}
}  // namespace

bool writeFileDurably(std::string_view path, std::string_view text, std::string* error, FileLayer& files)
{
    return writeBeside(path, text, error, files, true);
}

bool writeFileWhole(std::string_view path, std::string_view text, std::string* error)
{
    return writeBeside(path, text, error, posixFiles(), false);
}

bool syncFile(std::string_view pathIn, std::string* error)
{
    const std::string path = resolvePath(pathIn);
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || ::fsync(fd) != 0) {
        if (error)
            *error = path + ": cannot be flushed to the disk (" + std::strerror(errno) + ")";
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    ::close(fd);
    return true;
}

bool renameDurably(std::string_view fromIn, std::string_view toIn, std::string* error)
{
    const std::string from(fromIn);
    const std::string to(toIn);
    if (::rename(from.c_str(), to.c_str()) != 0) {
        if (error)
            *error = to + ": cannot be put in place (" + std::strerror(errno) + ")";
        return false;
    }
    syncDirectoryOf(to);
    return true;
}

bool renameIfFree(std::string_view fromIn, std::string_view toIn, std::string* error)
{
    const std::string from(fromIn);
    const std::string to(toIn);
    int r = ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE);
    if (r != 0 && (errno == EINVAL || errno == ENOSYS)) {
        // A file system without it: a second name made only where none
        // is, then the first one taken away.
        r = ::link(from.c_str(), to.c_str());
        if (r == 0)
            ::unlink(from.c_str());
    }
    if (r != 0) {
        if (error)
            *error = to + ": cannot be put in place (" + std::strerror(errno) + ")";
        return false;
    }
    syncDirectoryOf(to);
    syncDirectoryOf(from);
    return true;
}

std::optional<FileStamp> fileStamp(std::string_view path)
{
    struct stat st;
    if (::stat(resolvePath(path).c_str(), &st) != 0)
        return std::nullopt;
    return FileStamp {(long long)st.st_size, (long long)st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec,
                      (unsigned long long)st.st_ino};
}

bool sameContents(std::string_view aIn, std::string_view bIn)
{
    const std::string a = resolvePath(aIn), b = resolvePath(bIn);
    const int fa = ::open(a.c_str(), O_RDONLY | O_CLOEXEC);
    const int fb = fa < 0 ? -1 : ::open(b.c_str(), O_RDONLY | O_CLOEXEC);
    bool same = fa >= 0 && fb >= 0;
    struct stat sa, sb;
    if (same)
        same = ::fstat(fa, &sa) == 0 && ::fstat(fb, &sb) == 0 && sa.st_size == sb.st_size;
    std::vector<char> ba(1 << 16), bb(1 << 16);
    while (same) {
        const ssize_t na = ::read(fa, ba.data(), ba.size());
        if (na <= 0) {
            same = na == 0 && ::read(fb, bb.data(), 1) == 0;
            break;
        }
        ssize_t got = 0;
        while (got < na) {
            const ssize_t nb = ::read(fb, bb.data() + got, std::size_t(na - got));
            if (nb <= 0)
                break;
            got += nb;
        }
        same = got == na && std::memcmp(ba.data(), bb.data(), std::size_t(na)) == 0;
    }
    if (fa >= 0)
        ::close(fa);
    if (fb >= 0)
        ::close(fb);
    return same;
}

bool removeFile(std::string_view path)
{
    std::string p = resolvePath(path);
    if (::unlink(p.c_str()) == 0)
        return true;
    return errno == ENOENT;
}

}  // namespace xb
