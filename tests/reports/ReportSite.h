#pragma once
// A program directory for the report tests: setup.dbf naming a data
// directory, day tables and master tables written by the engine, and the
// words of a PDF file as an independent reader (pdftotext -bbox of
// poppler-utils) finds them, with their boxes in millimetres.

#include "TestSupport.h"
#include "data/Catalogue.h"
#include "data/Cdx.h"
#include "data/CodeBase.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

#include <string>
#include <vector>

namespace reporttest {

struct Ticket {
    long ticket;
    std::string customer = "ACME HAULING";
    std::string product = "PEA GRAVEL";
    std::string truck = "ABC 123";
    int inTime = 935;
    int outTime = 1405;
    long long inWeight = 14020;
    long long outWeight = 8760;
    bool deleted = false;
};

class Site {
public:
    QTemporaryDir dir {"/tmp/reports-XXXXXX"};

    Site()
    {
        QDir().mkpath(QString::fromStdString(data()));
        xb::Connection c;
        xb::Table* t = c.create(home() + "setup.dbf", catalogue::layoutFields(catalogue::kSetupLayout));
        t->appendStart();
        t->blank();
        t->field("datapath")->assign(data());
        t->append();
        t->close();
    }
    std::string home() const { return dir.path().toStdString() + "/"; }
    std::string data() const { return home() + "data/"; }

    // The day's table in the data directory, or in `archive` below it.
    std::string dayTable(const xb::Date& day, const std::vector<Ticket>& tickets, const std::string& archive = {}) const
    {
        std::string folder = data();
        if (!archive.empty()) {
            folder += archive + "/";
            QDir().mkpath(QString::fromStdString(folder));
        }
        const std::string path = folder + catalogue::dayTableName(day);
        if (!catalogue::CreateTable(catalogue::kTicketLayout, path))
            return {};
        xb::Connection c;
        xb::Table* t = c.open(path);
        for (const Ticket& k : tickets) {
            t->appendStart();
            t->blank();
            t->field("ticket")->assignInteger(k.ticket);
            t->field("customer")->assign(k.customer);
            t->field("product")->assign(k.product);
            t->field("truck")->assign(k.truck);
            t->field("in_time")->assignInteger(k.inTime);
            t->field("out_time")->assignInteger(k.outTime);
            t->field("in_date")->assignDate(day);
            t->field("out_date")->assignDate(day);
            t->field("in_wgt")->assignInteger(k.inWeight);
            t->field("out_wgt")->assignInteger(k.outWeight);
            t->field("net_wgt")->assignInteger(k.inWeight - k.outWeight);
            t->field("complete")->assignLogical(true);
            t->append();
            if (k.deleted)
                t->deleteRecord();
        }
        t->close();
        return path;
    }

    // Customer.dbf (code, name, add_r, fax_no) or Product.dbf (code, name,
    // price_t, Balance), in the order given.
    void master(int layout, const std::vector<std::vector<std::string>>& rows) const
    {
        const std::string path = data() + (layout == catalogue::kCustomerLayout ? "Customer.dbf" : "Product.dbf");
        xb::Connection c;
        c.setSafety(false);
        xb::Table* t = c.create(path, catalogue::layoutFields(layout), catalogue::layoutTags(layout));
        for (const auto& r : rows) {
            t->appendStart();
            t->blank();
            for (int i = 0; i < int(r.size()); ++i)
                if (!r[std::size_t(i)].empty())
                    t->fieldAt(i + 1)->assign(r[std::size_t(i)]);
            t->append();
        }
        t->close();
    }

    // A file that is no table, where a table is looked for.
    void garbage(const std::string& path) const
    {
        QFile f(QString::fromStdString(path));
        f.open(QIODevice::WriteOnly);
        f.write("this is not a table, it was left by a failed copy");
    }
};

// ---- the words of a PDF ----

struct Word {
    int page;  // 1-based
    QString text;
    double left, top, right, bottom;  // mm from the paper's top left corner
};

inline std::vector<Word> pdfWords(const QString& pdf)
{
    std::vector<Word> out;
    const auto r = testsupport::run("pdftotext", {"-bbox", pdf, "-"});
    if (r.exitCode != 0) {
        qWarning("pdftotext (poppler-utils) failed or is missing: %s", r.err.constData());
        return out;
    }
    static const QRegularExpression re(
        "<page |<word xMin=\"([0-9.]+)\" yMin=\"([0-9.]+)\" xMax=\"([0-9.]+)\" yMax=\"([0-9.]+)\">([^<]*)</word>");
    const QString text = QString::fromUtf8(r.out);
    int page = 0;
    const double mm = 25.4 / 72.0;
    for (auto it = re.globalMatch(text); it.hasNext();) {
        const auto m = it.next();
        if (m.captured(0).startsWith("<page")) {
            ++page;
            continue;
        }
        QString w = m.captured(5);
        w.replace("&amp;", "&").replace("&lt;", "<").replace("&gt;", ">").replace("&quot;", "\"");
        out.push_back({page, w, m.captured(1).toDouble() * mm, m.captured(2).toDouble() * mm,
                       m.captured(3).toDouble() * mm, m.captured(4).toDouble() * mm});
    }
    return out;
}

inline int pageCount(const std::vector<Word>& words) { return words.empty() ? 0 : words.back().page; }

inline std::vector<Word> onPage(const std::vector<Word>& words, int page)
{
    std::vector<Word> out;
    for (const Word& w : words)
        if (w.page == page)
            out.push_back(w);
    return out;
}

// The words of a page as one line of text per line of print, top to bottom
// and left to right.
inline QStringList pageLines(const std::vector<Word>& words, int page)
{
    std::vector<Word> ws = onPage(words, page);
    std::sort(ws.begin(), ws.end(), [](const Word& a, const Word& b) { return a.top < b.top; });
    std::vector<std::vector<Word>> lines;
    for (const Word& w : ws) {
        if (lines.empty() || w.top - lines.back().front().top > 0.8)
            lines.emplace_back();
        lines.back().push_back(w);
    }
    QStringList out;
    for (auto& line : lines) {
        std::sort(line.begin(), line.end(), [](const Word& a, const Word& b) { return a.left < b.left; });
        QStringList texts;
        for (const Word& w : line)
            texts << w.text;
        out << texts.join(' ');
    }
    return out;
}

// The first word with this text at or below `minTop` on the page.
inline const Word* find(const std::vector<Word>& words, int page, const QString& text, double minTop = 0)
{
    for (const Word& w : words)
        if (w.page == page && w.text == text && w.top >= minTop - 0.01)
            return &w;
    return nullptr;
}

}  // namespace reporttest
