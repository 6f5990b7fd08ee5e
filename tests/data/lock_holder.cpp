// lock_holder: another xBase program holding a lock on a table, for the
// sharing test. It takes the lock as such a program does, with the
// process's own POSIX record locks (not the engine's), at the bytes of the
// convention: the header at 0x7FFFFFFE, record n at 0x7FFFFFFE - n, the
// table as the header and every record byte below it.
//
//   lock_holder FILE header|table|RECORD [--release-after MS]
//
// Prints "held" once it holds the lock, then keeps it until standard input
// ends (or the time given has passed), and exits 0. Exits 2 when the lock
// cannot be had.

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <unistd.h>

int main(int argc, char** argv)
{
    if (argc != 3 && argc != 5) {
        std::fprintf(stderr, "usage: lock_holder FILE header|table|RECORD [--release-after MS]\n");
        return 2;
    }
    const long long base = 0x7FFFFFFE;
    struct flock l {};
    l.l_type = F_WRLCK;
    l.l_whence = SEEK_SET;
    const std::string what = argv[2];
    if (what == "header") {
        l.l_start = base;
        l.l_len = 1;
    } else if (what == "table") {
        l.l_start = base - 1000000;
        l.l_len = 1000001;
    } else {
        l.l_start = base - std::atoll(argv[2]);
        l.l_len = 1;
    }
    int releaseAfter = -1;
    if (argc == 5)
        releaseAfter = std::atoi(argv[4]);
    int fd = ::open(argv[1], O_RDWR);
    if (fd < 0 || ::fcntl(fd, F_SETLK, &l) != 0) {
        std::fprintf(stderr, "lock_holder: %s: %s\n", argv[1], std::strerror(errno));
        return 2;
    }
    std::printf("held\n");
    std::fflush(stdout);
    struct pollfd p {STDIN_FILENO, POLLIN, 0};
    char c;
    for (;;) {
        int r = ::poll(&p, 1, releaseAfter);
        if (r == 0)
            break;  // the time has passed
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0 || ::read(STDIN_FILENO, &c, 1) <= 0)
            break;  // standard input ended
    }
    l.l_type = F_UNLCK;
    ::fcntl(fd, F_SETLK, &l);
    ::close(fd);
    return 0;
}
