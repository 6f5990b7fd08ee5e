#pragma once
// The head office's tables, in the schema "grazulo", made and brought up to
// date by numbered migrations. Each migration runs in a transaction of its
// own, with its number recorded in grazulo.schema_version in the same
// transaction, under a lock that keeps two set-ups of one database apart;
// a migration is never changed once released, only followed by another.

#include <optional>
#include <string>

namespace mirror {

class Pg;

// The version this program writes and reads.
constexpr int kSchemaVersion = 2;

struct InitResult {
    bool ok = false;
    int before = 0;  // the version the database had (0: none)
    int after = 0;
    std::string message;  // what was done, or what failed
};

// Applies the migrations the database lacks, up to `upTo`.
InitResult initSchema(Pg& db, int upTo = kSchemaVersion);

// The database's version: 0 when it has no schema of this program yet;
// nothing (and the connection's error) when it cannot be read.
std::optional<int> schemaVersion(Pg& db);

// What keeps this program from mirroring into the database: no tables of
// this program yet, older ones, newer ones that programs of this version
// must no longer write, or a version that cannot be read. Nothing when it
// can mirror.
std::optional<std::string> schemaProblem(Pg& db);

}  // namespace mirror
