// devsim: stands in for the scale indicator, the card reader and the ticket
// printer, each on a pseudo-terminal reached through a symbolic link, so the
// program can be run, demonstrated and commissioned without the hardware.
//
//   devsim [--scale PATH] [--card PATH] [--printer PATH] [--printer-file FILE]
//          [--rate FRAMES-PER-SECOND] [--weight N] [--unit K|L]
//
// Each PATH becomes a symbolic link to the device's terminal (point the
// [Ports] keys of setup.ini at them: com1=PATH). The scale sends frames
// continuously — STX, the weight right-aligned in 7 blanks-or-digits, the
// unit letter, CR — or "---" while overloaded, and nothing while silenced.
// The card reader sends a card line (text CR LF) on command. Whatever the
// printer receives is appended to FILE as it arrives.
//
// Commands, one a line on standard input:
//   weight N        the scale shows N kg (or lb); ends an overload
//   unit K|L        kilograms or pounds
//   overload        the scale reports "---"
//   silence         the scale stops sending
//   resume          the scale sends again
//   card TEXT       the card reader sends TEXT CR LF
//   xoff / xon      the printer says XOff (paper out) / XOn
//   status          what each device is doing
//   help            this list
//   quit            remove the links and end
// Each command is answered with one line starting "ok" or "error". When
// standard input ends the devices keep running until SIGINT or SIGTERM.

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

volatile std::sig_atomic_t g_stop = 0;

void onSignal(int) { g_stop = 1; }

struct Device {
    const char* role = "";
    std::string link;
    std::string terminal;  // /dev/pts/N
    int master = -1;
    int slave = -1;  // held open so the program may close and reopen its end
    bool wanted() const { return !link.empty(); }
};

void say(const char* format, ...) __attribute__((format(printf, 1, 2)));
void say(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::vfprintf(stdout, format, args);
    va_end(args);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

bool makeDevice(Device& d)
{
    char name[128] = {};
    if (::openpty(&d.master, &d.slave, name, nullptr, nullptr) != 0) {
        std::fprintf(stderr, "devsim: %s: no pseudo-terminal: %s\n", d.role, std::strerror(errno));
        return false;
    }
    d.terminal = name;
    termios t {};
    ::tcgetattr(d.slave, &t);
    ::cfmakeraw(&t);  // no echo, no line editing, no CR/LF translation
    ::tcsetattr(d.slave, TCSANOW, &t);
    ::fcntl(d.master, F_SETFL, ::fcntl(d.master, F_GETFL) | O_NONBLOCK);
    ::fcntl(d.master, F_SETFD, FD_CLOEXEC);
    ::fcntl(d.slave, F_SETFD, FD_CLOEXEC);

    struct stat st {};
    if (::lstat(d.link.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
        std::fprintf(stderr, "devsim: %s: %s exists and is not a symbolic link; not replaced\n", d.role,
                     d.link.c_str());
        return false;
    }
    const std::string tmp = d.link + ".devsim-new";
    ::unlink(tmp.c_str());
    if (::symlink(d.terminal.c_str(), tmp.c_str()) != 0 || ::rename(tmp.c_str(), d.link.c_str()) != 0) {
        std::fprintf(stderr, "devsim: %s: cannot link %s: %s\n", d.role, d.link.c_str(), std::strerror(errno));
        ::unlink(tmp.c_str());
        return false;
    }
    return true;
}

void removeLink(const Device& d)
{
    if (!d.wanted() || d.master < 0)
        return;
    char target[256] = {};
    const ssize_t n = ::readlink(d.link.c_str(), target, sizeof target - 1);
    if (n > 0 && d.terminal == std::string(target, std::size_t(n)))
        ::unlink(d.link.c_str());
}

// Sends all of it or, when nobody reads and the terminal is full, what fits.
std::size_t sendTo(const Device& d, const std::string& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(d.master, bytes.data() + done, bytes.size() - done);
        if (n > 0)
            done += std::size_t(n);
        else if (n < 0 && errno == EINTR)
            continue;
        else
            break;
    }
    return done;
}

int waitingAtProgram(const Device& d)
{
    int n = 0;
    return ::ioctl(d.slave, FIONREAD, &n) == 0 ? n : 0;
}

double monotonicSeconds()
{
    timespec ts {};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

bool parseWeight(const std::string& text, long& value)
{
    if (text.empty() || text.size() > 7)
        return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtol(text.c_str(), &end, 10);
    return errno == 0 && end && *end == '\0' && value >= -999999 && value <= 9999999;
}

std::string trim(const std::string& s)
{
    std::size_t a = s.find_first_not_of(" \t\r");
    if (a == std::string::npos)
        return {};
    std::size_t b = s.find_last_not_of(" \t\r");
    return s.substr(a, b - a + 1);
}

void usage(FILE* to)
{
    std::fprintf(to,
                 "usage: devsim [--scale PATH] [--card PATH] [--printer PATH] [--printer-file FILE]\n"
                 "              [--rate FRAMES-PER-SECOND] [--weight N] [--unit K|L]\n");
}

void help()
{
    say("ok commands: weight N | unit K|L | overload | silence | resume | card TEXT | xoff | xon | status | "
        "help | quit");
}

struct Scale {
    long weight = 0;
    char unit = 'K';
    bool overload = false;
    bool silent = false;
    double rate = 4.0;
    unsigned long frames = 0;

    std::string frame() const
    {
        char body[32];
        if (overload)
            std::snprintf(body, sizeof body, "%7s", "---");
        else
            std::snprintf(body, sizeof body, "%7ld", weight);
        return std::string("\x02") + body + unit + "\r";
    }
};

}  // namespace

int main(int argc, char** argv)
{
    Device scale, card, printer;
    scale.role = "scale";
    card.role = "card";
    printer.role = "printer";
    std::string printerFile;
    Scale sc;

    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](std::string& into) {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "devsim: %s needs a value\n", arg.c_str());
                std::exit(2);
            }
            into = argv[++i];
        };
        std::string v;
        if (arg == "--scale")
            value(scale.link);
        else if (arg == "--card")
            value(card.link);
        else if (arg == "--printer")
            value(printer.link);
        else if (arg == "--printer-file")
            value(printerFile);
        else if (arg == "--rate") {
            value(v);
            sc.rate = std::atof(v.c_str());
            if (!(sc.rate > 0 && sc.rate <= 100)) {
                std::fprintf(stderr, "devsim: --rate wants 0 < N <= 100\n");
                return 2;
            }
        } else if (arg == "--weight") {
            value(v);
            if (!parseWeight(v, sc.weight)) {
                std::fprintf(stderr, "devsim: --weight wants a whole number of up to 7 characters\n");
                return 2;
            }
        } else if (arg == "--unit") {
            value(v);
            if (v != "K" && v != "L") {
                std::fprintf(stderr, "devsim: --unit wants K or L\n");
                return 2;
            }
            sc.unit = v[0];
        } else if (arg == "--help" || arg == "-h") {
            usage(stdout);
            return 0;
        } else {
            std::fprintf(stderr, "devsim: unknown argument %s\n", arg.c_str());
            usage(stderr);
            return 2;
        }
    }
    if (!scale.wanted() && !card.wanted() && !printer.wanted()) {
        usage(stderr);
        return 2;
    }

    int printerOut = -1;
    if (!printerFile.empty()) {
        printerOut = ::open(printerFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
        if (printerOut < 0) {
            std::fprintf(stderr, "devsim: %s: %s\n", printerFile.c_str(), std::strerror(errno));
            return 1;
        }
    }

    struct sigaction sa {};
    sa.sa_handler = onSignal;
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
    ::sigaction(SIGHUP, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    Device* all[] = {&scale, &card, &printer};
    bool ok = true;
    for (Device* d : all)
        if (d->wanted() && !(ok = makeDevice(*d)))
            break;
    if (!ok) {
        for (Device* d : all)
            removeLink(*d);
        return 1;
    }
    for (Device* d : all)
        if (d->wanted())
            say("%s: %s -> %s", d->role, d->link.c_str(), d->terminal.c_str());
    say("ready");

    bool stdinOpen = true;
    std::string input;
    unsigned long printed = 0;
    const double period = 1.0 / sc.rate;
    double nextFrame = monotonicSeconds();
    double nextHousekeeping = nextFrame + 1.0;
    bool quit = false;

    while (!quit && !g_stop) {
        const double now = monotonicSeconds();
        if (scale.wanted() && now >= nextFrame) {
            if (!sc.silent) {
                // Frames nobody reads would pile up and reach the program as
                // old weights when it opens the port: keep only the latest few.
                if (waitingAtProgram(scale) > 256)
                    ::tcflush(scale.slave, TCIFLUSH);
                sendTo(scale, sc.frame());
                ++sc.frames;
            }
            nextFrame += period;
            if (nextFrame < now)
                nextFrame = now + period;
        }
        if (now >= nextHousekeeping) {
            // A program that died with the port open leaves it exclusive.
            for (Device* d : all)
                if (d->wanted())
                    ::ioctl(d->slave, TIOCNXCL);
            nextHousekeeping = now + 1.0;
        }

        std::vector<pollfd> fds;
        if (stdinOpen)
            fds.push_back({STDIN_FILENO, POLLIN, 0});
        for (Device* d : all)
            if (d->wanted())
                fds.push_back({d->master, POLLIN, 0});
        double wait = nextHousekeeping - monotonicSeconds();
        if (scale.wanted())
            wait = std::min(wait, nextFrame - monotonicSeconds());
        const int timeoutMs = wait > 0 ? int(wait * 1000) + 1 : 0;
        const int ready = ::poll(fds.data(), fds.size(), timeoutMs);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            break;
        }

        for (const pollfd& p : fds) {
            if (!(p.revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            if (p.fd == STDIN_FILENO) {
                char buf[4096];
                const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
                if (n <= 0) {
                    if (n < 0 && errno == EINTR)
                        continue;
                    stdinOpen = false;
                    std::fprintf(stderr, "devsim: standard input closed; running until interrupted\n");
                    continue;
                }
                input.append(buf, std::size_t(n));
                continue;
            }
            char buf[4096];
            const ssize_t n = ::read(p.fd, buf, sizeof buf);
            if (n <= 0)
                continue;
            if (p.fd == printer.master) {
                printed += std::size_t(n);
                if (printerOut >= 0 && ::write(printerOut, buf, std::size_t(n)) != n)
                    std::fprintf(stderr, "devsim: printer file: %s\n", std::strerror(errno));
            }
            // What the program sends to the scale (XOn/XOff) or the card reader is not needed.
        }

        for (std::size_t eol; !quit && (eol = input.find('\n')) != std::string::npos;) {
            const std::string line = trim(input.substr(0, eol));
            input.erase(0, eol + 1);
            if (line.empty())
                continue;
            const std::size_t sp = line.find(' ');
            const std::string cmd = line.substr(0, sp);
            const std::string rest = sp == std::string::npos ? std::string() : trim(line.substr(sp + 1));
            auto needs = [&](const Device& d) {
                if (!d.wanted())
                    say("error: no %s (start with --%s PATH)", d.role, d.role);
                return d.wanted();
            };
            if (cmd == "weight") {
                long w = 0;
                if (!parseWeight(rest, w))
                    say("error: weight wants a whole number of up to 7 characters");
                else if (needs(scale)) {
                    sc.weight = w;
                    sc.overload = false;
                    say("ok weight %ld", w);
                }
            } else if (cmd == "unit") {
                if (rest != "K" && rest != "L" && rest != "k" && rest != "l")
                    say("error: unit wants K or L");
                else if (needs(scale)) {
                    sc.unit = char(std::toupper(static_cast<unsigned char>(rest[0])));
                    say("ok unit %c", sc.unit);
                }
            } else if (cmd == "overload") {
                if (needs(scale)) {
                    sc.overload = true;
                    say("ok overload");
                }
            } else if (cmd == "silence") {
                if (needs(scale)) {
                    sc.silent = true;
                    say("ok silence");
                }
            } else if (cmd == "resume") {
                if (needs(scale)) {
                    sc.silent = false;
                    nextFrame = monotonicSeconds();
                    say("ok resume");
                }
            } else if (cmd == "card") {
                if (needs(card)) {
                    const int stale = waitingAtProgram(card);
                    const std::string bytes = rest + "\r\n";
                    if (sendTo(card, bytes) != bytes.size())
                        say("error: card reader's line is full (is the program reading?)");
                    else if (stale > 0)
                        say("ok card %s (%d bytes before it still unread)", rest.c_str(), stale);
                    else
                        say("ok card %s", rest.c_str());
                }
            } else if (cmd == "xoff" || cmd == "xon") {
                if (needs(printer)) {
                    sendTo(printer, cmd == "xoff" ? std::string("\x13") : std::string("\x11"));
                    say("ok %s", cmd.c_str());
                }
            } else if (cmd == "status") {
                if (scale.wanted())
                    say("ok scale: %s %ld %c, %lu frames", sc.silent ? "silent" : sc.overload ? "overload" : "sending",
                        sc.weight, sc.unit, sc.frames);
                if (card.wanted())
                    say("ok card reader: %d bytes unread", waitingAtProgram(card));
                if (printer.wanted())
                    say("ok printer: %lu bytes received", printed);
            } else if (cmd == "help") {
                help();
            } else if (cmd == "quit") {
                quit = true;
            } else {
                say("error: unknown command '%s' (try help)", cmd.c_str());
            }
        }
    }

    // What the printer was sent last is still on its way in.
    for (;;) {
        char buf[4096];
        const ssize_t n = printer.wanted() ? ::read(printer.master, buf, sizeof buf) : 0;
        if (n <= 0)
            break;
        if (printerOut >= 0)
            (void)!::write(printerOut, buf, std::size_t(n));
    }
    for (Device* d : all)
        removeLink(*d);
    if (printerOut >= 0)
        ::close(printerOut);
    say("ok bye");
    return 0;
}
