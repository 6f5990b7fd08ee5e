#include "mirror/Pg.h"

#include <libpq-fe.h>

#include <algorithm>

namespace mirror {

namespace {

// The server's message on one line: libpq ends it with a line feed and
// puts DETAIL and HINT on lines of their own.
std::string oneLine(const char* text)
{
    std::string s = text ? text : "";
    while (!s.empty() && (s.back() == '\n' || s.back() == ' '))
        s.pop_back();
    for (std::size_t i = 0; (i = s.find('\n', i)) != std::string::npos;)
        s.replace(i, 1, "; ");
    return s;
}

struct Result {
    explicit Result(PGresult* r) : r(r) {}
    ~Result() { PQclear(r); }
    Result(const Result&) = delete;
    Result& operator=(const Result&) = delete;
    PGresult* r;
};

}  // namespace

std::unique_ptr<Pg> Pg::connect(const std::string& conninfo, std::string& error)
{
    // Later settings win over earlier ones: the site's string comes after
    // the defaults it may change, and before the client encoding, which it
    // must not (the rows are sent as UTF-8, whatever the string says).
    const char* keys[] = {"connect_timeout", "application_name", "keepalives_idle", "keepalives_interval",
                          "keepalives_count", "dbname", "client_encoding", nullptr};
    const char* values[] = {"15", "grazulo-mirror", "30", "10", "3", conninfo.c_str(), "UTF8", nullptr};
    PGconn* c = PQconnectdbParams(keys, values, 1);
    if (!c) {
        error = "out of memory";
        return nullptr;
    }
    if (PQstatus(c) != CONNECTION_OK) {
        error = oneLine(PQerrorMessage(c));
        PQfinish(c);
        return nullptr;
    }
    // Notices (a table that exists already, ...) are no news for the site.
    PQsetNoticeProcessor(c, [](void*, const char*) {}, nullptr);
    return std::unique_ptr<Pg>(new Pg(c));
}

Pg::~Pg() { PQfinish(conn_); }

bool Pg::failed(const std::string& what, const void* result)
{
    const PGresult* r = static_cast<const PGresult*>(result);
    const char* state = r ? PQresultErrorField(r, PG_DIAG_SQLSTATE) : nullptr;
    sqlState_ = state ? state : "";
    const char* message = r ? PQresultErrorMessage(r) : nullptr;
    error_ = oneLine(message && *message ? message : PQerrorMessage(conn_));
    if (error_.empty())
        error_ = what + " failed";
    return false;
}

bool Pg::exec(std::string_view sql, const std::vector<PgValue>& params, std::vector<PgRow>* rows)
{
    std::vector<const char*> values;
    values.reserve(params.size());
    for (const PgValue& p : params)
        values.push_back(p ? p->c_str() : nullptr);
    const std::string text(sql);
    Result r(PQexecParams(conn_, text.c_str(), int(values.size()), nullptr, values.data(), nullptr, nullptr, 0));
    const ExecStatusType s = PQresultStatus(r.r);
    if (s != PGRES_COMMAND_OK && s != PGRES_TUPLES_OK)
        return failed("the statement", r.r);
    error_.clear();
    sqlState_.clear();
    if (rows) {
        rows->clear();
        const int n = PQntuples(r.r), fields = PQnfields(r.r);
        for (int i = 0; i < n; ++i) {
            PgRow row;
            for (int f = 0; f < fields; ++f)
                row.push_back(PQgetisnull(r.r, i, f) ? PgValue() : PgValue(PQgetvalue(r.r, i, f)));
            rows->push_back(std::move(row));
        }
    }
    return true;
}

std::optional<std::string> Pg::value(std::string_view sql, const std::vector<PgValue>& params)
{
    std::vector<PgRow> rows;
    if (!exec(sql, params, &rows) || rows.empty() || rows[0].empty())
        return std::nullopt;
    return rows[0][0];
}

bool Pg::script(std::string_view sql)
{
    const std::string text(sql);
    Result r(PQexec(conn_, text.c_str()));
    const ExecStatusType s = PQresultStatus(r.r);
    if (s != PGRES_COMMAND_OK && s != PGRES_TUPLES_OK)
        return failed("the statements", r.r);
    error_.clear();
    sqlState_.clear();
    return true;
}

bool Pg::copyIn(std::string_view copySql, std::string_view data)
{
    const std::string text(copySql);
    {
        Result r(PQexec(conn_, text.c_str()));
        if (PQresultStatus(r.r) != PGRES_COPY_IN)
            return failed("COPY", r.r);
    }
    constexpr std::size_t kChunk = 1 << 20;
    for (std::size_t done = 0; done < data.size(); done += kChunk) {
        const std::size_t n = std::min(kChunk, data.size() - done);
        if (PQputCopyData(conn_, data.data() + done, int(n)) != 1) {
            PQputCopyEnd(conn_, "the data could not be sent");
            while (PGresult* r = PQgetResult(conn_))
                PQclear(r);
            return failed("COPY", nullptr);
        }
    }
    if (PQputCopyEnd(conn_, nullptr) != 1)
        return failed("COPY", nullptr);
    bool ok = true;
    while (PGresult* r = PQgetResult(conn_)) {
        if (ok && PQresultStatus(r) != PGRES_COMMAND_OK) {
            failed("COPY", r);
            ok = false;
        }
        PQclear(r);
    }
    if (ok) {
        error_.clear();
        sqlState_.clear();
    }
    return ok;
}

bool Pg::alive() const { return PQstatus(conn_) == CONNECTION_OK; }

std::string Pg::describe() const
{
    const char* host = PQhost(conn_);
    std::string h = host && *host ? host : "localhost";
    if (!h.empty() && h[0] == '/')
        h = "socket " + h;
    return std::string(PQuser(conn_)) + "@" + h + ":" + PQport(conn_) + "/" + PQdb(conn_);
}

bool Pg::usesTls() const { return PQsslInUse(conn_) == 1; }

std::string Pg::sslMode() const
{
    std::string mode = "prefer";
    if (PQconninfoOption* options = PQconninfo(conn_)) {
        for (PQconninfoOption* o = options; o->keyword; ++o)
            if (std::string_view(o->keyword) == "sslmode" && o->val)
                mode = o->val;
        PQconninfoFree(options);
    }
    return mode;
}

}  // namespace mirror
