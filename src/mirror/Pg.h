#pragma once
// A connection to the head office's PostgreSQL database, through libpq.
// Small on purpose: statements with text parameters, their rows as texts,
// and COPY FROM STDIN. Failures are not thrown: a call gives false (or
// nothing) and error() says what went wrong, in the server's words.

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct pg_conn;

namespace mirror {

using PgValue = std::optional<std::string>;  // nothing for NULL
using PgRow = std::vector<PgValue>;

class Pg {
public:
    // Connects with a libpq connection string (keywords or a URI). The
    // connection's own defaults (a connect time-out, UTF-8, the program's
    // name) come first, so the string can change them. Null, with `error`,
    // when the database cannot be reached.
    static std::unique_ptr<Pg> connect(const std::string& conninfo, std::string& error);
    ~Pg();
    Pg(const Pg&) = delete;
    Pg& operator=(const Pg&) = delete;

    // One statement with its parameters ($1, $2, ...); its rows into `rows`.
    bool exec(std::string_view sql, const std::vector<PgValue>& params = {}, std::vector<PgRow>* rows = nullptr);
    // One value of a one-row query; nothing on failure or for NULL.
    std::optional<std::string> value(std::string_view sql, const std::vector<PgValue>& params = {});
    // Statements separated by semicolons, without parameters.
    bool script(std::string_view sql);
    // COPY ... FROM STDIN with the rows' text.
    bool copyIn(std::string_view copySql, std::string_view data);

    const std::string& error() const { return error_; }
    // The SQLSTATE of the last failure ("42501"), empty when none came.
    const std::string& errorCode() const { return sqlState_; }
    // Whether the connection still stands.
    bool alive() const;

    // "user@host:port/dbname", without the password.
    std::string describe() const;
    bool usesTls() const;
    std::string sslMode() const;  // as the connection string set it, "prefer" when it did not

private:
    explicit Pg(pg_conn* c) : conn_(c) {}
    bool failed(const std::string& what, const void* result);
    pg_conn* conn_;
    std::string error_;
    std::string sqlState_;
};

}  // namespace mirror
