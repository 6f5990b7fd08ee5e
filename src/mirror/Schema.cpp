#include "mirror/Schema.h"

#include "mirror/Pg.h"

#include <string_view>

namespace mirror {

namespace {

struct Migration {
    int version;
    // The oldest program version that still mirrors correctly into a
    // database of this version (a migration that only adds views or
    // indexes keeps the programs before it working).
    int compatibleFrom;
    const char* sql;
};

// The columns of a ticket, in the ticket tables' order.
#define GRAZULO_TICKET_COLUMNS                                                                             \
    "ticket bigint, user_id text, company text, carrier text, truck text, customer text, product text, " \
    "po text, payment text, amount numeric, gst numeric, pst numeric, total numeric, pounds boolean, "   \
    "in_time time, in_date date, out_time time, out_date date, "                                         \
    "in_wgt bigint, out_wgt bigint, net_wgt bigint, complete boolean, remarks text"

const Migration kMigrations[] = {
    {1, 1,
     // The sites' data: each table's rows carry their site, and a site's
     // rows of a part (a day, its open tickets, customers, products) are
     // replaced together with the part's line in grazulo.sent.
     "CREATE TABLE grazulo.site_roles ("
     "  role_name name PRIMARY KEY,"
     "  site text NOT NULL);"
     "CREATE TABLE grazulo.tickets ("
     "  site text NOT NULL, day date NOT NULL, seq integer NOT NULL, " GRAZULO_TICKET_COLUMNS ","
     "  PRIMARY KEY (site, day, seq));"
     "CREATE TABLE grazulo.open_tickets ("
     "  site text NOT NULL, seq integer NOT NULL, " GRAZULO_TICKET_COLUMNS ","
     "  PRIMARY KEY (site, seq));"
     "CREATE TABLE grazulo.customers ("
     "  site text NOT NULL, seq integer NOT NULL,"
     "  code_num bigint, name text, address text, card text,"
     "  PRIMARY KEY (site, seq));"
     "CREATE TABLE grazulo.products ("
     "  site text NOT NULL, seq integer NOT NULL,"
     "  code_num bigint, name text, price numeric, balance numeric,"
     "  PRIMARY KEY (site, seq));"
     "CREATE TABLE grazulo.sent ("
     "  site text NOT NULL, part text NOT NULL,"
     "  signature text NOT NULL, row_count integer NOT NULL,"
     "  sent_at timestamptz NOT NULL DEFAULT now(),"
     "  PRIMARY KEY (site, part));"
     "CREATE INDEX tickets_day ON grazulo.tickets (day, site);"},
    {2, 1,
     // Who may do what: a site's role changes its own site's rows only; a
     // reader reads every site's. The views for the head office. The roles
     // are the server's, shared by its databases: a set-up of another
     // database at the same moment (which the lock of this one does not
     // hold off) may make them first.
     "DO $$ BEGIN"
     "  IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'grazulo_site') THEN"
     "    BEGIN CREATE ROLE grazulo_site NOLOGIN;"
     "    EXCEPTION WHEN duplicate_object OR unique_violation THEN NULL; END;"
     "  END IF;"
     "  IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'grazulo_reader') THEN"
     "    BEGIN CREATE ROLE grazulo_reader NOLOGIN;"
     "    EXCEPTION WHEN duplicate_object OR unique_violation THEN NULL; END;"
     "  END IF;"
     "END $$;"
     "CREATE FUNCTION grazulo.my_site() RETURNS text"
     "  LANGUAGE sql STABLE SECURITY DEFINER SET search_path = pg_catalog"
     "  AS $f$ SELECT site FROM grazulo.site_roles WHERE role_name = session_user $f$;"
     "REVOKE ALL ON FUNCTION grazulo.my_site() FROM PUBLIC;"
     "GRANT EXECUTE ON FUNCTION grazulo.my_site() TO grazulo_site;"
     "GRANT USAGE ON SCHEMA grazulo TO grazulo_site, grazulo_reader;"
     "GRANT SELECT ON grazulo.schema_version TO grazulo_site;"
     "GRANT SELECT, INSERT, DELETE ON grazulo.tickets, grazulo.open_tickets, grazulo.customers,"
     "  grazulo.products TO grazulo_site;"
     "GRANT SELECT, INSERT, UPDATE, DELETE ON grazulo.sent TO grazulo_site;"
     "DO $$ DECLARE t text; BEGIN"
     "  FOREACH t IN ARRAY ARRAY['tickets', 'open_tickets', 'customers', 'products', 'sent'] LOOP"
     "    EXECUTE format('ALTER TABLE grazulo.%I ENABLE ROW LEVEL SECURITY', t);"
     "    EXECUTE format('CREATE POLICY own_site ON grazulo.%I TO grazulo_site"
     "      USING (site = (SELECT grazulo.my_site())) WITH CHECK (site = (SELECT grazulo.my_site()))', t);"
     "    EXECUTE format('CREATE POLICY every_site ON grazulo.%I FOR SELECT TO grazulo_reader USING (true)', t);"
     "  END LOOP;"
     "END $$;"
     "CREATE VIEW grazulo.ticket_weights AS"
     "  SELECT site, day, seq, ticket, truck, customer, product, in_date, in_time, out_date, out_time,"
     "    CASE WHEN in_wgt IS NOT NULL AND out_wgt IS NOT NULL THEN greatest(in_wgt, out_wgt) END AS gross,"
     "    CASE WHEN in_wgt IS NOT NULL AND out_wgt IS NOT NULL THEN least(in_wgt, out_wgt) END AS tare,"
     "    abs(in_wgt - out_wgt) AS net,"
     "    complete, remarks"
     "  FROM grazulo.tickets;"
     "CREATE VIEW grazulo.daily_totals AS"
     "  SELECT site, day, customer, product, count(*) AS tickets,"
     "    sum(gross) AS gross, sum(tare) AS tare, sum(net) AS net"
     "  FROM grazulo.ticket_weights"
     "  GROUP BY site, day, customer, product;"
     "GRANT SELECT ON ALL TABLES IN SCHEMA grazulo TO grazulo_reader;"},
};

#undef GRAZULO_TICKET_COLUMNS

constexpr const char* kLock = "SELECT pg_advisory_xact_lock(hashtext('grazulo schema'))";

std::optional<int> currentVersion(Pg& db)
{
    const auto v = db.value("SELECT coalesce(max(version), 0) FROM grazulo.schema_version");
    if (!v)
        return std::nullopt;
    return std::stoi(*v);
}

InitResult fail(InitResult r, Pg& db, const std::string& what)
{
    r.ok = false;
    r.message = what + ": " + db.error();
    db.script("ROLLBACK");
    return r;
}

}  // namespace

std::optional<int> schemaVersion(Pg& db)
{
    const auto exists = db.value("SELECT to_regclass('grazulo.schema_version') IS NOT NULL");
    if (!exists)
        return std::nullopt;
    if (*exists != "t")
        return 0;
    return currentVersion(db);
}

std::optional<std::string> schemaProblem(Pg& db)
{
    const auto version = schemaVersion(db);
    if (!version)
        return "the version of the database's tables cannot be read: " + db.error();
    const std::string init = "run grazulo-admin mirror --init with the head office's connection";
    if (*version == 0)
        return "the database holds no tables of this program yet: " + init;
    if (*version < kSchemaVersion)
        return "the database's tables are of version " + std::to_string(*version) + ", this program needs version " +
               std::to_string(kSchemaVersion) + ": " + init;
    if (*version > kSchemaVersion) {
        const auto from = db.value("SELECT compatible_from FROM grazulo.schema_version WHERE version = $1",
                                   {std::to_string(*version)});
        if (!from || std::stoi(*from) > kSchemaVersion)
            return "the database's tables are of version " + std::to_string(*version) +
                   ", which this program (version " + std::to_string(kSchemaVersion) +
                   ") must not write: install the site's newer program";
    }
    return std::nullopt;
}

InitResult initSchema(Pg& db, int upTo)
{
    InitResult r;
    if (!db.script("BEGIN") || !db.exec(kLock) ||
        !db.script("CREATE SCHEMA IF NOT EXISTS grazulo;"
                   "CREATE TABLE IF NOT EXISTS grazulo.schema_version ("
                   "  version integer PRIMARY KEY,"
                   "  compatible_from integer NOT NULL,"
                   "  applied_at timestamptz NOT NULL DEFAULT now())") ||
        !db.script("COMMIT"))
        return fail(r, db, "the schema grazulo cannot be made");
    const auto before = currentVersion(db);
    if (!before)
        return fail(r, db, "the schema's version cannot be read");
    r.before = r.after = *before;
    for (const Migration& m : kMigrations) {
        if (m.version > upTo)
            break;
        if (!db.script("BEGIN") || !db.exec(kLock))
            return fail(r, db, "migration " + std::to_string(m.version));
        const auto now = currentVersion(db);
        if (!now)
            return fail(r, db, "migration " + std::to_string(m.version));
        if (*now >= m.version) {  // there already, or applied meanwhile by another set-up
            db.script("COMMIT");
            r.after = *now;
            continue;
        }
        if (!db.script(m.sql) ||
            !db.exec("INSERT INTO grazulo.schema_version (version, compatible_from) VALUES ($1, $2)",
                     {std::to_string(m.version), std::to_string(m.compatibleFrom)}) ||
            !db.script("COMMIT"))
            return fail(r, db, "migration " + std::to_string(m.version) + " was not applied");
        r.after = m.version;
    }
    r.ok = true;
    if (r.after > kSchemaVersion)
        r.message = "The database's tables are of version " + std::to_string(r.after) +
                    ", newer than this program's " + std::to_string(kSchemaVersion) + ": nothing was changed.";
    else if (r.after == r.before)
        r.message = "The database's tables are up to date (version " + std::to_string(r.after) + ").";
    else
        r.message = "The database's tables were brought from version " + std::to_string(r.before) + " to version " +
                    std::to_string(r.after) + ".";
    return r;
}

}  // namespace mirror
