#pragma once
// The file operations under the table engine. Tables, indexes and the
// ticket store's journal reach their files only through a FileLayer, chosen
// per connection: the POSIX one by default, or another that a test puts in
// its place to fail a chosen write or sync, or to drop what was not synced
// (a power cut).
//
// The calls keep the POSIX conventions: a file descriptor, -1 (or a short
// count) with errno set on failure.

#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/types.h>

namespace xb {

class FileLayer {
public:
    virtual ~FileLayer() = default;

    virtual int open(const std::string& path, int flags, mode_t mode = 0666) = 0;
    virtual int close(int fd) = 0;
    virtual ssize_t pread(int fd, void* buf, std::size_t n, uint64_t offset) = 0;
    virtual ssize_t pwrite(int fd, const void* buf, std::size_t n, uint64_t offset) = 0;
    // The file's data (and its size) reach the disk.
    virtual int sync(int fd) = 0;
    virtual int size(int fd, uint64_t& bytes) = 0;
    virtual int truncate(int fd, uint64_t bytes) = 0;
    virtual int rename(const std::string& from, const std::string& to) = 0;
    virtual int remove(const std::string& path) = 0;
    virtual int makeDirectory(const std::string& path, mode_t mode = 0777) = 0;
    // The directory's entries (files created, renamed, removed) reach the disk.
    virtual int syncDirectory(const std::string& directory) = 0;

    // A rename that never replaces: -1 with EEXIST when `to` exists.
    virtual int renameNoReplace(const std::string& from, const std::string& to);
    // Advisory byte-range locks of the open file (not of the process: two
    // opens of one file exclude each other even in one process, and closing
    // another descriptor of the file keeps them). They exclude other
    // programs' POSIX record locks of the same bytes. lock() does not wait:
    // -1 with EAGAIN (or EACCES) while another holds any of the bytes.
    virtual int lock(int fd, uint64_t offset, uint64_t length);
    virtual int unlock(int fd, uint64_t offset, uint64_t length);

    // Built on the calls above.
    // Reads or writes exactly n bytes; false with `why` in plain words.
    bool readAll(int fd, void* buf, std::size_t n, uint64_t offset, std::string* why = nullptr);
    bool writeAll(int fd, const void* buf, std::size_t n, uint64_t offset, std::string* why = nullptr);
    // Creates a new file named `prefix` + six random letters and digits,
    // open for reading and writing, exclusively (never an existing file, nor
    // through a symbolic link); its name is left in `path`. -1 on failure.
    int makeTemporary(const std::string& prefix, std::string& path, mode_t mode = 0600);
};

// The operating system's files.
FileLayer& posixFiles();

}  // namespace xb
