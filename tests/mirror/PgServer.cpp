#include "PgServer.h"

#include "mirror/Pg.h"

#include <libpq-fe.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <pwd.h>
#include <sstream>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace testpg {

namespace {

namespace fs = std::filesystem;

// The newest installed server's programs (GRAZULO_PG_BIN chooses others).
std::string serverBin()
{
    if (const char* env = std::getenv("GRAZULO_PG_BIN"); env && *env)
        return env;
    std::vector<fs::path> found;
    std::error_code ec;
    for (fs::directory_iterator it("/usr/lib/postgresql", ec), end; !ec && it != end; it.increment(ec))
        if (fs::exists(it->path() / "bin" / "initdb") && fs::exists(it->path() / "bin" / "postgres"))
            found.push_back(it->path() / "bin");
    if (found.empty())
        return {};
    std::sort(found.begin(), found.end(), [](const fs::path& a, const fs::path& b) {
        return std::atoi(a.parent_path().filename().c_str()) < std::atoi(b.parent_path().filename().c_str());
    });
    return found.back().string();
}

bool waitFor(pid_t pid, int seconds, int* status)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    for (;;) {
        const pid_t r = ::waitpid(pid, status, WNOHANG);
        if (r == pid)
            return true;
        if (r < 0 && errno != EINTR)
            return true;
        if (std::chrono::steady_clock::now() > until)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

}  // namespace

PgServer::PgServer(bool durable) : durable_(durable)
{
    bin_ = serverBin();
    if (bin_.empty()) {
        problem_ = "no PostgreSQL server is installed (Debian's postgresql package; tools/install-deps.sh)";
        return;
    }
    if (::geteuid() == 0) {
        const passwd* pw = ::getpwnam("nobody");
        if (!pw) {
            problem_ = "run as root, and there is no user nobody to run the PostgreSQL server as";
            return;
        }
        uid_ = pw->pw_uid;
        gid_ = pw->pw_gid;
        switchUser_ = true;
    }
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp && !switchUser_ ? tmp : "/tmp") + "/grazulo-pg-XXXXXX";
    if (!::mkdtemp(pattern.data())) {
        problem_ = "no scratch folder for the server: " + std::string(std::strerror(errno));
        return;
    }
    folder_ = pattern;
    if (switchUser_ && ::chown(folder_.c_str(), uid_, gid_) != 0) {
        problem_ = "the scratch folder cannot be given to nobody";
        return;
    }
    const std::string initdb = bin_ + "/initdb", data = folder_ + "/data";
    const char* const args[] = {initdb.c_str(), "-D", data.c_str(), "-U", "postgres", "--auth=trust", "-E", "UTF8",
                                "--locale=C.UTF-8", "-N", nullptr};
    pid_t pid = -1;
    if (!runAsServerUser(args, folder_ + "/initdb.log", true, &pid)) {
        problem_ = "initdb failed: " + logTail();
        return;
    }
    if (!start())
        problem_ = "the server did not start: " + logTail();
}

PgServer::~PgServer()
{
    stop(false);
    if (!folder_.empty()) {
        std::error_code ec;
        fs::remove_all(folder_, ec);
    }
}

bool PgServer::runAsServerUser(const char* const* argv, const std::string& log, bool wait, pid_t* pidOut)
{
    const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (out < 0)
        return false;
    if (switchUser_ && ::fchown(out, uid_, gid_) != 0) {
        ::close(out);
        return false;
    }
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out, 1);
        ::dup2(out, 2);
        const int devnull = ::open("/dev/null", O_RDONLY);
        ::dup2(devnull, 0);
        if (switchUser_ && (::setgroups(0, nullptr) != 0 || ::setgid(gid_) != 0 || ::setuid(uid_) != 0))
            ::_exit(126);
        // Set after the change of user, which clears it: the server goes
        // when the test that started it dies.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent)
            ::_exit(125);
        if (::chdir(folder_.c_str()) != 0)
            ::_exit(126);
        ::execv(argv[0], const_cast<char* const*>(argv));
        ::_exit(127);
    }
    ::close(out);
    if (pid < 0)
        return false;
    *pidOut = pid;
    if (!wait)
        return true;
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string PgServer::logTail() const
{
    std::string all;
    for (const char* name : {"/initdb.log", "/server.log"}) {
        std::ifstream in(folder_ + name);
        std::stringstream s;
        s << in.rdbuf();
        all += s.str();
    }
    return all.size() > 2000 ? all.substr(all.size() - 2000) : all;
}

std::string PgServer::conninfo(const std::string& database, const std::string& user) const
{
    return "host=" + folder_ + " port=5432 dbname=" + database + " user=" + user;
}

bool PgServer::start()
{
    if (pid_ > 0)
        return true;
    const std::string postgres = bin_ + "/postgres";
    const std::string data = folder_ + "/data";
    std::vector<std::string> args = {postgres, "-D", data, "-k", folder_, "-p", "5432",
                                     "-c", "listen_addresses=", "-c", "max_connections=30",
                                     "-c", "shared_buffers=32MB", "-c", "log_min_messages=warning"};
    if (!durable_)
        for (const char* setting : {"fsync=off", "full_page_writes=off"}) {
            args.push_back("-c");
            args.push_back(setting);
        }
    std::vector<const char*> argv;
    for (const std::string& a : args)
        argv.push_back(a.c_str());
    argv.push_back(nullptr);
    if (!runAsServerUser(argv.data(), folder_ + "/server.log", false, &pid_)) {
        pid_ = -1;
        return false;
    }
    const std::string ping = conninfo("postgres");
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (std::chrono::steady_clock::now() < until) {
        if (PQping(ping.c_str()) == PQPING_OK)
            return true;
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    stop(true);
    return false;
}

bool PgServer::stop(bool crash)
{
    if (pid_ <= 0)
        return true;
    ::kill(pid_, crash ? SIGQUIT : SIGINT);
    int status = 0;
    if (!waitFor(pid_, 120, &status)) {
        ::kill(pid_, SIGKILL);
        waitFor(pid_, 30, &status);
    }
    pid_ = -1;
    return true;
}

bool PgServer::sql(const std::string& database, const std::string& statements, std::string* error) const
{
    std::string why;
    auto db = mirror::Pg::connect(conninfo(database), why);
    if (!db) {
        if (error)
            *error = why;
        return false;
    }
    if (!db->script(statements)) {
        if (error)
            *error = db->error();
        return false;
    }
    return true;
}

}  // namespace testpg
