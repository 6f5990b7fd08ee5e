#pragma once
// A PostgreSQL server of the test's own: a cluster made with initdb in a
// scratch folder, reached through a Unix socket there only, stopped and
// removed when this goes (and stopped by the kernel when the process that
// started it dies). The server refuses to run as root: run as root, it runs
// as the user nobody. When that cannot be done (no PostgreSQL installed, no
// unprivileged user), problem() says why and the tests skip.

#include <string>
#include <sys/types.h>

namespace testpg {

class PgServer {
public:
    // `durable`: the server's own defaults (fsync on); otherwise without
    // fsync, for tests that never lose the machine.
    explicit PgServer(bool durable = false);
    ~PgServer();
    PgServer(const PgServer&) = delete;
    PgServer& operator=(const PgServer&) = delete;

    bool ok() const { return problem_.empty(); }
    const std::string& problem() const { return problem_; }

    // A libpq connection string for a database and a role.
    std::string conninfo(const std::string& database, const std::string& user = "postgres") const;

    // Stops the server: a fast shutdown, or an immediate one (as a crash:
    // the next start recovers from the log). True once it has ended.
    bool stop(bool crash = false);
    // Starts it again on the same cluster; true once it takes connections.
    bool start();
    bool running() const { return pid_ > 0; }

    // Runs statements as the superuser in a database; false (and `error`).
    bool sql(const std::string& database, const std::string& statements, std::string* error = nullptr) const;

    const std::string& folder() const { return folder_; }

private:
    bool runAsServerUser(const char* const* argv, const std::string& log, bool wait, pid_t* pid);
    std::string logTail() const;

    std::string problem_;
    std::string bin_;     // the server's programs
    std::string folder_;  // scratch folder: data/, the socket, the logs
    uid_t uid_ = 0;
    gid_t gid_ = 0;
    bool switchUser_ = false;
    bool durable_ = false;
    pid_t pid_ = -1;
};

}  // namespace testpg
