#include "mirror/Mirror.h"

#include "data/Clock.h"
#include "mirror/MirrorState.h"
#include "mirror/Pg.h"
#include "mirror/Schema.h"
#include "mirror/SiteTables.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <optional>
#include <set>

namespace mirror {

namespace {

// Settings of the mirror's session: a site whose link goes away mid-run
// must not keep its lock (and the rows of an open transaction) at the head
// office for long. A server that lacks one of them is given the others one
// by one.
const char* const kSessionSettings[] = {
    "SET idle_in_transaction_session_timeout = '120s'",
    "SET lock_timeout = '60s'",
    "SET tcp_keepalives_idle = 30",
    "SET tcp_keepalives_interval = 10",
    "SET tcp_keepalives_count = 3",
};

void applySessionSettings(Pg& db)
{
    std::string all;
    for (const char* setting : kSessionSettings)
        all += std::string(setting) + ";";
    if (!db.script(all))
        for (const char* setting : kSessionSettings)
            db.exec(setting);
}

// The database's table of each kind of part.
const char* tableOf(PartKind kind)
{
    switch (kind) {
    case PartKind::kDay:
        return "tickets";
    case PartKind::kOpenTickets:
        return "open_tickets";
    case PartKind::kCustomers:
        return "customers";
    case PartKind::kProducts:
        return "products";
    }
    return "tickets";
}

constexpr PartKind kKinds[] = {PartKind::kDay, PartKind::kOpenTickets, PartKind::kCustomers, PartKind::kProducts};

std::string nowText()
{
    const xb::LocalTime t = xb::now();
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", t.year % 10000, t.month % 100, t.day % 100,
                  t.hour % 100, t.minute % 100, t.second % 100);
    return buf;
}

// A text[] (or date[]) literal of the values.
std::string arrayLiteral(const std::vector<std::string>& values)
{
    std::string out = "{";
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i)
            out += ',';
        out += '"';
        for (char c : values[i]) {
            if (c == '"' || c == '\\')
                out += '\\';
            out += c;
        }
        out += '"';
    }
    return out + "}";
}

std::string plural(long n, const char* one, const char* many)
{
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

// "Dec0826.dbf, Dec0926.dbf and 12 more"
std::string someNames(const std::vector<std::string>& names)
{
    constexpr std::size_t kShown = 8;
    std::string out;
    for (std::size_t i = 0; i < names.size() && i < kShown; ++i)
        out += (i ? ", " : "") + names[i];
    if (names.size() > kShown)
        out += " and " + std::to_string(names.size() - kShown) + " more";
    return out;
}

// What the head office holds of each part of the site (grazulo.sent).
struct Held {
    std::string signature;
    long rows = 0;
    std::string sentAt;
};

std::optional<std::map<std::string, Held>> heldParts(Pg& db, const std::string& site)
{
    std::vector<PgRow> rows;
    if (!db.exec("SELECT part, signature, row_count, to_char(sent_at, 'YYYY-MM-DD HH24:MI:SS') "
                 "FROM grazulo.sent WHERE site = $1",
                 {site}, &rows))
        return std::nullopt;
    std::map<std::string, Held> out;
    for (const PgRow& r : rows)
        out[r[0].value_or("")] = Held {r[1].value_or(""), std::stol(r[2].value_or("0")), r[3].value_or("")};
    return out;
}

// The parts of one transaction.
struct Batch {
    struct Item {
        const Part* part;
        PartRows rows;
    };
    std::vector<Item> items;
    std::vector<std::string> removed;  // keys of days the site no longer has
    std::size_t rows = 0;
    bool empty() const { return items.empty() && removed.empty(); }
};

class Sender {
public:
    Sender(Pg& db, const std::string& site) : db_(db), site_(site) {}

    // Sends the batch in one transaction; false (with error()) when it was
    // not committed, or the commit's outcome is unknown.
    bool send(const Batch& b)
    {
        if (!tempTables_) {
            std::string sql;
            for (PartKind k : kKinds)
                sql += std::string("CREATE TEMP TABLE IF NOT EXISTS incoming_") + tableOf(k) +
                       " (LIKE grazulo." + tableOf(k) + ") ON COMMIT DELETE ROWS;";
            if (!db_.script(sql))
                return fail("the session's tables cannot be made");
            tempTables_ = true;
        }
        if (!db_.script("BEGIN"))
            return fail("the transaction cannot begin");
        std::vector<std::string> days;
        std::map<PartKind, std::string> data;
        std::set<PartKind> replaced;
        for (const std::string& key : b.removed)
            days.push_back(key.substr(4));
        for (const Batch::Item& item : b.items) {
            const PartKind kind = item.part->kind;
            replaced.insert(kind);
            std::string& out = data[kind];
            std::string front;  // the site's id is a COPY text value like any other: a backslash in it is escaped
            appendCopyText(front, site_);
            if (kind == PartKind::kDay) {
                days.push_back(item.part->key.substr(4));
                front += '\t' + item.part->key.substr(4);
            }
            long seq = 0;
            for (const std::string& line : item.rows.lines) {
                out += front;
                out += '\t';
                out += std::to_string(++seq);
                out += '\t';
                out += line;
                out += '\n';
            }
        }
        if (!days.empty() &&
            !db_.exec("DELETE FROM grazulo.tickets WHERE site = $1 AND day = ANY($2::date[])", {site_, arrayLiteral(days)}))
            return rollback("the days' old tickets cannot be removed");
        for (PartKind k : replaced)
            if (k != PartKind::kDay &&
                !db_.exec(std::string("DELETE FROM grazulo.") + tableOf(k) + " WHERE site = $1", {site_}))
                return rollback(std::string("the old ") + tableOf(k) + " cannot be removed");
        for (const auto& [kind, text] : data) {
            if (text.empty())
                continue;
            std::string columns = kind == PartKind::kDay ? "site, day, seq" : "site, seq";
            for (const std::string& c : columnsOf(kind))
                columns += ", " + c;
            const std::string temp = std::string("incoming_") + tableOf(kind);
            if (!db_.copyIn("COPY " + temp + " (" + columns + ") FROM STDIN", text) ||
                !db_.script(std::string("INSERT INTO grazulo.") + tableOf(kind) + " SELECT * FROM " + temp))
                return rollback(std::string("the ") + tableOf(kind) + " cannot be written");
        }
        if (!b.items.empty()) {
            std::vector<std::string> keys, signatures, counts;
            for (const Batch::Item& item : b.items) {
                keys.push_back(item.part->key);
                signatures.push_back(item.rows.signature);
                counts.push_back(std::to_string(item.rows.lines.size()));
            }
            if (!db_.exec("INSERT INTO grazulo.sent (site, part, signature, row_count, sent_at) "
                          "SELECT $1, p, s, n, now() FROM unnest($2::text[], $3::text[], $4::integer[]) AS u(p, s, n) "
                          "ON CONFLICT (site, part) DO UPDATE SET signature = excluded.signature, "
                          "row_count = excluded.row_count, sent_at = excluded.sent_at",
                          {site_, arrayLiteral(keys), arrayLiteral(signatures), arrayLiteral(counts)}))
                return rollback("the record of what was sent cannot be written");
        }
        if (!b.removed.empty() &&
            !db_.exec("DELETE FROM grazulo.sent WHERE site = $1 AND part = ANY($2::text[])",
                      {site_, arrayLiteral(b.removed)}))
            return rollback("the record of the removed days cannot be written");
        if (!db_.script("COMMIT"))
            return fail("the transaction was not committed");
        return true;
    }

    const std::string& error() const { return error_; }

private:
    bool fail(const std::string& what)
    {
        error_ = what + ": " + db_.error();
        return false;
    }
    bool rollback(const std::string& what)
    {
        fail(what);
        if (db_.alive())
            db_.script("ROLLBACK");
        return false;
    }

    Pg& db_;
    const std::string& site_;
    bool tempTables_ = false;
    std::string error_;
};

// The site's parts with their signatures, read again only where their
// tables changed since the state was kept.
struct Reading {
    const Part* part;
    std::string signature;
    long rows = 0;
    std::optional<PartRows> read;  // the rows, when they were read now
    std::string error;
};

// `keep` records a fresh reading in `state`; `force` reads whatever the
// state says.
Reading readOrRecall(const Part& part, PartState& state, bool keep, bool force = false)
{
    Reading r;
    r.part = &part;
    const Identity id = partIdentity(part);
    if (!force && state.settled && state.identity == id.text && !state.signature.empty()) {
        r.signature = state.signature;
        r.rows = state.rows;
        return r;
    }
    PartRows rows = readPart(part);
    if (!rows.ok()) {
        r.error = rows.error;
        return r;
    }
    r.signature = rows.signature;
    r.rows = long(rows.lines.size());
    if (keep) {
        state.identity = id.text;
        state.settled = id.settled;
        state.signature = rows.signature;
        state.rows = r.rows;
    }
    r.read = std::move(rows);
    return r;
}

// Connects, checks the schema and the role, for a run or a status.
struct Session {
    std::unique_ptr<Pg> db;
    std::string problem;
};

Session openSession(const Settings& s, bool forWriting)
{
    Session out;
    std::string error;
    if (s.connectionFile.empty()) {
        out.problem = "setup.ini in " + s.programDir + " names no connection file ([Mirror] connection=)";
        return out;
    }
    out.db = connectWithFile(s.connectionFile, error);
    if (!out.db) {
        out.problem = error;
        return out;
    }
    Pg& db = *out.db;
    applySessionSettings(db);
    if (const auto problem = schemaProblem(db)) {
        out.problem = *problem;
        return out;
    }
    if (!forWriting)
        return out;
    std::vector<PgRow> rows;
    if (!db.exec("SELECT grazulo.my_site(), "
                 "(SELECT rolsuper OR rolbypassrls FROM pg_roles WHERE rolname = current_user) "
                 "OR pg_has_role(current_user, (SELECT nspowner FROM pg_namespace WHERE nspname = 'grazulo'), "
                 "'MEMBER'), current_user",
                 {}, &rows) ||
        rows.empty()) {
        out.problem = "the database role cannot be checked: " + db.error();
        return out;
    }
    const PgValue& roleSite = rows[0][0];
    const bool unrestricted = rows[0][1].value_or("f") == "t";
    const std::string role = rows[0][2].value_or("");
    if (roleSite && *roleSite != s.site)
        out.problem = "the database role " + role + " mirrors the site \"" + *roleSite + "\", and this site's id is \"" +
                      s.site + "\" (setup.ini, [Mirror] site=)";
    else if (!roleSite && !unrestricted)
        out.problem = "the database role " + role + " is no site's role: the head office adds it to "
                      "grazulo.site_roles with this site's id \"" + s.site + "\"";
    return out;
}

std::string targetOf(const Settings& s, const Pg& db) { return s.site + " " + db.describe(); }

}  // namespace

std::unique_ptr<Pg> connectWithFile(const std::string& connectionFile, std::string& error)
{
    const auto conninfo = readConnectionFile(connectionFile, error);
    if (!conninfo)
        return nullptr;
    std::string why;
    auto db = Pg::connect(*conninfo, why);
    if (!db)
        error = "the database cannot be reached: " + why;
    return db;
}

bool tryLockSite(Pg& db, const std::string& site)
{
    return db.value("SELECT pg_try_advisory_lock(hashtext('grazulo mirror'), hashtext($1))", {site}).value_or("f") ==
           "t";
}

RunResult runMirror(const Settings& settings, const RunOptions& options)
{
    RunResult result;
    LocalState state = loadState(settings.statePath);
    bool sentAnything = false;
    auto finish = [&](int status) {
        result.status = status;
        std::string outcome = result.summary;
        for (const std::string& p : result.problems)
            outcome += (outcome.empty() ? "failed: " : "; failed: ") + p;
        state.lastRun = nowText() + ": " + outcome;
        if (sentAnything)
            state.lastSent = state.lastRun;
        std::string error;
        if (!saveState(settings.statePath, state, error))
            result.problems.push_back("what was read and sent cannot be kept: " + error);
        return result;
    };
    auto stop = [&](const std::string& problem) {
        result.problems.push_back(problem);
        return finish(1);
    };

    if (settings.dataDir.empty())
        return stop("setup.dbf in " + settings.programDir + " names no data directory");
    Session session = openSession(settings, true);
    if (!session.problem.empty())
        return stop(session.problem);
    Pg& db = *session.db;
    if (!tryLockSite(db, settings.site))
        return stop(db.error().empty() ? "another mirror of the site \"" + settings.site + "\" is running: this one stopped"
                                       : "the site's lock cannot be taken: " + db.error());
    const auto held = heldParts(db, settings.site);
    if (!held)
        return stop("what the database holds of the site cannot be read: " + db.error());
    const SiteParts site = siteParts(settings.dataDir);
    if (!site.error.empty())
        return stop(site.error);

    const std::string target = targetOf(settings, db);
    if (state.target != target) {  // another site id or database: what was sent there says nothing here
        for (auto& [key, p] : state.parts) {
            p.sentSignature.clear();
            p.sentRows = 0;
        }
        state.target = target;
    }

    Sender sender(db, settings.site);
    Batch batch;
    std::vector<std::string> listsSent;
    bool sendFailed = false;
    auto flush = [&]() {
        if (batch.empty() || sendFailed)
            return;
        if (!sender.send(batch)) {
            sendFailed = true;
            result.problems.push_back("sending stopped (what was sent before stays; the next run sends the rest): " +
                                      sender.error());
            return;
        }
        sentAnything = true;
        for (const Batch::Item& item : batch.items) {
            PartState& ps = state.parts[item.part->key];
            ps.sentSignature = item.rows.signature;
            ps.sentRows = long(item.rows.lines.size());
            if (item.part->kind == PartKind::kDay) {
                ++result.daysSent;
                result.ticketsSent += long(item.rows.lines.size());
            } else {
                listsSent.push_back("the " + item.part->key + " (" + std::to_string(item.rows.lines.size()) + ")");
            }
        }
        for (const std::string& key : batch.removed) {
            state.parts.erase(key);
            ++result.daysRemoved;
        }
        batch = Batch {};
    };

    std::set<std::string> present;
    bool anyDay = false;
    for (const Part& part : site.parts) {
        if (sendFailed)
            break;
        present.insert(part.key);
        anyDay = anyDay || part.kind == PartKind::kDay;
        PartState& ps = state.parts[part.key];
        Reading r = readOrRecall(part, ps, true);
        if (!r.error.empty()) {
            result.problems.push_back(r.error + " (" + partName(part) + " was not sent)");
            continue;
        }
        const auto h = held->find(part.key);
        if (h != held->end() && h->second.signature == r.signature) {
            ps.sentSignature = r.signature;
            ps.sentRows = h->second.rows;
            ++result.partsUnchanged;
            continue;
        }
        if (!r.read) {  // known unchanged here, but not what the head office holds
            r = readOrRecall(part, ps, true, true);
            if (!r.error.empty()) {
                result.problems.push_back(r.error + " (" + partName(part) + " was not sent)");
                continue;
            }
        }
        batch.rows += r.read->lines.size();
        batch.items.push_back({&part, std::move(*r.read)});
        if (batch.rows >= options.batchRows)
            flush();
    }

    // Days the head office holds and the site no longer has.
    std::vector<std::string> gone;
    for (const auto& [key, h] : *held)
        if (dayOfKey(key) && !present.count(key))
            gone.push_back(key);
    if (!gone.empty() && !anyDay && !options.allowEmpty && !sendFailed) {
        result.problems.push_back("the data directory " + settings.dataDir + " holds no day table, and the head office " +
                                  plural(long(gone.size()), "day", "days") +
                                  " of this site: they were kept (a data directory that is not the site's looks "
                                  "like this; --allow-empty removes them)");
    } else {
        for (const std::string& key : gone) {
            if (sendFailed)
                break;
            batch.removed.push_back(key);
            if (batch.removed.size() >= 500)
                flush();
        }
    }
    flush();
    for (auto it = state.parts.begin(); it != state.parts.end();)  // parts of days no longer anywhere
        it = present.count(it->first) || held->count(it->first) ? std::next(it) : state.parts.erase(it);

    std::vector<std::string> done;
    if (result.daysSent > 0)
        done.push_back(plural(result.daysSent, "day", "days") + " (" + plural(result.ticketsSent, "ticket", "tickets") +
                       ")");
    done.insert(done.end(), listsSent.begin(), listsSent.end());
    std::string summary = "Site \"" + settings.site + "\": ";
    if (done.empty() && result.daysRemoved == 0) {
        summary += "nothing to send";
    } else {
        std::string sent;
        for (std::size_t i = 0; i < done.size(); ++i)
            sent += (i == 0 ? "" : i + 1 == done.size() ? " and " : ", ") + done[i];
        if (!sent.empty())
            summary += "sent " + sent;
        if (result.daysRemoved > 0)
            summary += std::string(sent.empty() ? "" : "; ") + "removed " +
                       plural(result.daysRemoved, "day", "days") + " the site no longer has";
    }
    summary += "; " + plural(result.partsUnchanged, "part", "parts") + " unchanged.";
    result.summary = summary;
    return finish(result.problems.empty() ? 0 : 1);
}

StatusReport mirrorStatus(const Settings& settings)
{
    StatusReport report;
    std::string& out = report.text;
    const LocalState state = loadState(settings.statePath);
    out += "Site: " + settings.site + "\n";
    if (settings.dataDir.empty()) {
        out += "Data directory: setup.dbf in " + settings.programDir + " names none\n";
        return report;
    }
    out += "Data directory: " + settings.dataDir + "\n";
    out += "Connection file: " + (settings.connectionFile.empty() ? std::string("none named in setup.ini")
                                                                  : settings.connectionFile) + "\n";
    out += "Last run: " + (state.lastRun.empty() ? std::string("none") : state.lastRun) + "\n";
    out += "Last sent: " + (state.lastSent.empty() ? std::string("nothing yet") : state.lastSent) + "\n";

    // What the head office holds: asked, or as last seen.
    std::map<std::string, Held> held;
    bool asked = false;
    Session session = openSession(settings, false);
    if (session.problem.empty()) {
        Pg& db = *session.db;
        if (const auto h = heldParts(db, settings.site)) {
            held = *h;
            asked = true;
            out += "Database: " + db.describe() + (db.usesTls() ? ", TLS" : ", no TLS") + " (sslmode " +
                   db.sslMode() + ")\n";
        } else {
            session.problem = "what the database holds cannot be read: " + db.error();
        }
    }
    if (!asked) {
        out += "Database: " + session.problem + "\n";
        if (!state.target.empty() && state.target.rfind(settings.site + " ", 0) == 0)
            for (const auto& [key, p] : state.parts)
                if (!p.sentSignature.empty())
                    held[key] = Held {p.sentSignature, p.sentRows, ""};
    }

    long days = 0, tickets = 0;
    std::string first, last, lastSentAt;
    std::map<std::string, long> lists;
    for (const auto& [key, h] : held) {
        if (const auto d = dayOfKey(key)) {
            ++days;
            tickets += h.rows;
            first = first.empty() ? key.substr(4) : first;
            last = key.substr(4);
        } else {
            lists[key] = h.rows;
        }
        lastSentAt = std::max(lastSentAt, h.sentAt);
    }
    out += std::string(asked ? "At the head office: " : "At the head office, as last seen: ");
    if (held.empty()) {
        out += "nothing of this site\n";
    } else {
        out += plural(days, "day", "days");
        if (days > 0)
            out += " (" + first + " to " + last + ", " + plural(tickets, "ticket", "tickets") + ")";
        for (const auto& [key, n] : lists)
            out += ", " + key + " (" + std::to_string(n) + ")";
        if (!lastSentAt.empty())
            out += "; last sent " + lastSentAt;
        out += "\n";
    }

    const SiteParts site = siteParts(settings.dataDir);
    if (!site.error.empty()) {
        out += "Waiting: cannot tell: " + site.error + "\n";
        return report;
    }
    std::vector<std::string> waiting, unreadable;
    std::set<std::string> present;
    long waitingTickets = 0;
    for (const Part& part : site.parts) {
        present.insert(part.key);
        PartState copy = state.parts.count(part.key) ? state.parts.at(part.key) : PartState {};
        const Reading r = readOrRecall(part, copy, false);
        if (!r.error.empty()) {
            unreadable.push_back(r.error);
            continue;
        }
        const auto h = held.find(part.key);
        if (h == held.end() || h->second.signature != r.signature) {
            waiting.push_back(partName(part) + (h == held.end() ? " (new)" : " (changed)"));
            if (part.kind == PartKind::kDay)
                waitingTickets += r.rows;
        }
    }
    std::vector<std::string> gone;
    for (const auto& [key, h] : held)
        if (const auto d = dayOfKey(key); d && !present.count(key))
            gone.push_back(partName(Part {PartKind::kDay, *d, key, {}}));
    if (waiting.empty() && gone.empty())
        out += "Waiting: nothing: the head office holds what the site's tables hold\n";
    if (!waiting.empty())
        out += "Waiting: " + plural(long(waiting.size()), "part", "parts") + " (" +
               plural(waitingTickets, "ticket", "tickets") + " in days): " + someNames(waiting) + "\n";
    if (!gone.empty())
        out += "Waiting to be removed: " + plural(long(gone.size()), "day", "days") +
               " the site no longer has: " + someNames(gone) + "\n";
    for (const std::string& u : unreadable)
        out += "Cannot be read: " + u + "\n";
    report.status = 0;
    return report;
}

}  // namespace mirror
