#pragma once
// A file layer for tests: the operating system's files, with faults on
// demand. A chosen write, sync, rename or truncate fails with a chosen error
// (EIO, ENOSPC, ...), once or from then on; and a power cut puts every file
// of the directories it has seen back to what had reached the disk: the
// contents last synced, the names as the directory was last synced. After a
// cut every call fails (EIO) until restart(), so the handles still open can
// write nothing more; a test closes them, restarts, and opens the tables
// again to see what survived.
//
// Give it to a connection: xb::Connection c(faulty); a TicketStore working
// in that connection writes its journal through it as well.

#include "data/FileLayer.h"

#include <map>
#include <string>
#include <sys/types.h>
#include <vector>

namespace testsupport {

class FaultyFiles final : public xb::FileLayer {
public:
    enum class Op { Write, Sync, Rename, Truncate };  // a directory sync counts as a sync

    explicit FaultyFiles(xb::FileLayer& under = xb::posixFiles()) : under_(under) {}

    // The n-th call of `op` from now (1: the next one) fails with `error`;
    // with `andAfter` every later one fails as well (a disk that is full).
    void failNth(Op op, int n, int error, bool andAfter = false);
    // At the n-th call of `op` from now the power goes: powerCut(), and that
    // call fails.
    void cutAtNth(Op op, int n);
    void clearFaults() { faults_.clear(); }
    // Calls of `op` made so far, failed ones included; and faults given.
    int count(Op op) const;
    int faultsGiven() const { return given_; }

    void powerCut();
    void restart() { dead_ = false; }
    bool dead() const { return dead_; }

    int open(const std::string& path, int flags, mode_t mode) override;
    int close(int fd) override;
    ssize_t pread(int fd, void* buf, std::size_t n, uint64_t offset) override;
    ssize_t pwrite(int fd, const void* buf, std::size_t n, uint64_t offset) override;
    int sync(int fd) override;
    int size(int fd, uint64_t& bytes) override;
    int truncate(int fd, uint64_t bytes) override;
    int rename(const std::string& from, const std::string& to) override;
    int renameNoReplace(const std::string& from, const std::string& to) override;
    int remove(const std::string& path) override;
    int makeDirectory(const std::string& path, mode_t mode) override;
    int syncDirectory(const std::string& directory) override;

private:
    struct Fault {
        Op op;
        int at;  // the call number that fails
        int error;
        bool andAfter;
        bool cut = false;
    };
    bool injected(Op op);  // counts the call; true (errno set) when it is to fail
    bool deadCall();
    std::string directoryOf(const std::string& path) const;
    void watch(const std::string& directory);
    int nodeOf(dev_t dev, ino_t ino, bool* fresh = nullptr);
    std::string contentOf(int fd);
    std::map<std::string, int> listing(const std::string& directory);

    xb::FileLayer& under_;
    std::vector<Fault> faults_;
    std::map<Op, int> calls_;
    int given_ = 0;
    bool dead_ = false;

    // What survives a power cut: the synced contents of every file seen (by
    // a number of the test's own, as inodes are used again), and per
    // directory the names as last synced.
    int nextNode_ = 1;
    std::map<std::pair<dev_t, ino_t>, int> live_;
    std::map<int, std::string> durable_;
    std::map<std::string, std::map<std::string, int>> directories_;
};

}  // namespace testsupport
