#include "data/Util.h"

#include "data/Paths.h"

namespace util {

Connection* openData() { return new Connection(); }

void closeData(Connection* connection) { delete connection; }

Table* mOpen(Connection* connection, std::string_view path, std::string_view tag)
{
    if (!connection)
        return nullptr;
    Table* t = connection->open(path);
    if (!t)
        return nullptr;
    if (!tag.empty()) {
        if (!t->selectTag(tag)) {
            xb::reportError(t->path(), "the index has no tag " + std::string(tag));
            t->close();
            return nullptr;
        }
        t->top();
    }
    return t;
}

int seek(Table* table, std::string_view key) { return table ? table->seek(key) : xb::kError; }

std::string fetch(Table* table, std::string_view field)
{
    xb::Field* f = table ? table->field(field) : nullptr;
    return f ? f->text() : std::string();
}

bool fetch(Table* table, std::string_view field, std::string& out)
{
    xb::Field* f = table ? table->field(field) : nullptr;
    out = f ? f->text() : std::string();
    return f != nullptr;
}

long long ifetch(Table* table, std::string_view field)
{
    xb::Field* f = table ? table->field(field) : nullptr;
    return f ? f->integer() : 0;
}

bool tfetch(Table* table, std::string_view field)
{
    xb::Field* f = table ? table->field(field) : nullptr;
    return f && f->isTrue();
}

std::optional<xb::Date> dtfetch(Table* table, std::string_view field)
{
    xb::Field* f = table ? table->field(field) : nullptr;
    return f ? f->date() : std::nullopt;
}

namespace {
xb::Field* writable(Table* table, std::string_view field)
{
    if (!table)
        return nullptr;
    xb::Field* f = table->field(field);
    if (!f)
        xb::reportError(table->path(), "the table has no field " + std::string(field));
    return f;
}
}  // namespace

bool replace(Table* table, std::string_view field, std::string_view value)
{
    xb::Field* f = writable(table, field);
    return f && f->assign(value);
}

bool ireplace(Table* table, std::string_view field, long long value)
{
    xb::Field* f = writable(table, field);
    return f && f->assignInteger(value);
}

bool dreplace(Table* table, std::string_view field, double value)
{
    xb::Field* f = writable(table, field);
    return f && f->assignNumber(value);
}

bool treplace(Table* table, std::string_view field, bool value)
{
    xb::Field* f = writable(table, field);
    return f && f->assignLogical(value);
}

bool makeDir(std::string_view path)
{
    if (xb::makeDir(path))
        return true;
    xb::reportError(std::string(path), "the directory cannot be created");
    return false;
}

bool fileCopy(std::string_view source, std::string_view target)
{
    std::string why;
    if (xb::copyFile(source, target, &why))
        return true;
    xb::reportError(std::string(target), "the file was not copied: " + why);
    return false;
}

bool cbAppendFrom(std::string_view sourcePath, std::string_view targetPath)
{
    Connection conn;
    Table* src = conn.open(sourcePath);
    if (!src)
        return false;
    Table* dst = conn.open(targetPath);
    if (!dst)
        return false;
    // Pairs of (target field, source field) matched by name.
    std::vector<std::pair<xb::Field*, xb::Field*>> pairs;
    for (int i = 1; i <= dst->fieldCount(); ++i) {
        xb::Field* tf = dst->fieldAt(i);
        if (xb::Field* sf = src->field(tf->name()))
            pairs.emplace_back(tf, sf);
    }
    bool ok = true;
    for (int r = src->top(); r == xb::kSuccess; r = src->skip(1)) {
        if (dst->appendStart() != xb::kSuccess) {
            ok = false;
            break;
        }
        dst->blank();
        for (auto [tf, sf] : pairs) {
            bool same = tf->type() == sf->type() && tf->width() == sf->width() && tf->decimals() == sf->decimals();
            if (same)
                tf->assignRaw(sf->raw());
            else if ((tf->type() == 'N' || tf->type() == 'F') && (sf->type() == 'N' || sf->type() == 'F'))
                ok = (sf->isBlank() ? (tf->clear(), true) : tf->assignNumber(sf->number())) && ok;
            else
                ok = tf->assign(sf->text()) && ok;
        }
        if (!ok || dst->append() != xb::kSuccess) {
            ok = false;
            break;
        }
    }
    if (conn.errorCode() != 0)
        ok = false;
    return ok;
}

std::string date4format(std::string_view stored, std::string_view picture)
{
    return xb::formatDate(stored, picture);
}

}  // namespace util
