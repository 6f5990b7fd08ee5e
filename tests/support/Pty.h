#pragma once
// One pseudo-terminal standing in for a serial device: `master` is the
// device's side, the test keeps the slave open too, so the device stays
// while the program closes and reopens its end, and its line settings can be
// read while the port has it.

#include <cstddef>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace testsupport {

struct Pty {
    int master = -1;
    int slave = -1;
    std::string name;  // the slave's device path

    Pty()
    {
        char n[128] = {};
        if (::openpty(&master, &slave, n, nullptr, nullptr) != 0)
            return;
        name = n;
        termios t {};
        ::tcgetattr(slave, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(slave, TCSANOW, &t);
        ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    }
    ~Pty() { closeAll(); }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    void closeAll()
    {
        if (master >= 0)
            ::close(master);
        if (slave >= 0)
            ::close(slave);
        master = slave = -1;
    }
    bool ok() const { return master >= 0; }

    // The device sends these bytes (waiting while the line is full).
    bool send(const std::string& bytes) const
    {
        std::size_t done = 0;
        for (int tries = 0; done < bytes.size() && tries < 5000; ++tries) {
            ssize_t n = ::write(master, bytes.data() + done, bytes.size() - done);
            if (n > 0)
                done += std::size_t(n);
            else
                ::usleep(1000);
        }
        return done == bytes.size();
    }
    // What the port sent, until `expected` bytes came or the time is up.
    std::string receive(std::size_t expected, int timeoutMs = 3000) const
    {
        std::string got;
        for (int waited = 0; got.size() < expected && waited < timeoutMs;) {
            pollfd p {master, POLLIN, 0};
            if (::poll(&p, 1, 20) > 0) {
                char buf[4096];
                ssize_t n = ::read(master, buf, sizeof buf);
                if (n > 0) {
                    got.append(buf, std::size_t(n));
                    continue;
                }
            }
            waited += 20;
        }
        return got;
    }
    // Everything sent to the device so far, once nothing came for quietMs.
    std::string received(int quietMs = 300) const
    {
        std::string got;
        for (;;) {
            pollfd p {master, POLLIN, 0};
            if (::poll(&p, 1, quietMs) <= 0)
                return got;
            char buf[4096];
            const ssize_t n = ::read(master, buf, sizeof buf);
            if (n <= 0)
                return got;
            got.append(buf, std::size_t(n));
        }
    }
    void drain() const { (void)received(0); }
    termios settings() const
    {
        termios t {};
        ::tcgetattr(slave, &t);
        return t;
    }
    // Output of the slave is held (an XOff was taken).
    bool outputStopped() const
    {
        pollfd p {slave, POLLOUT, 0};
        return ::poll(&p, 1, 0) == 0;
    }
};

}  // namespace testsupport
