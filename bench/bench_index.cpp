// Tables with a production index of two tags (a 35-character name and an
// 8-byte number): appends with both tags kept up to date, random seeks, and
// a rebuild of the index. Prints its figures.
//
//   bench_index [records] [directory]

#include "data/Cdx.h"
#include "data/CodeBase.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <unistd.h>

using namespace xb;
using Clock = std::chrono::steady_clock;

static double since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

int main(int argc, char** argv)
{
    const int n = argc > 1 ? std::atoi(argv[1]) : 100000;
    std::string dir = argc > 2 ? argv[2] : "/tmp";
    std::string path = dir + "/bench_index_" + std::to_string(getpid()) + ".dbf";
    setErrorReport([](const EngineError& e) { std::fprintf(stderr, "%s\n", e.text().c_str()); });

    std::vector<TagSpec> tags(2);
    tags[0].name = "N_AME";
    tags[0].keyExpr = "n_ame";
    tags[1].name = "CODE";
    tags[1].keyExpr = "code";
    std::mt19937 rng(42);
    auto name = [&](uint32_t i) {
        char b[40];
        std::snprintf(b, sizeof b, "CUSTOMER %08u %06u", (i * 2654435761u) % 100000000u, i);
        return std::string(b);
    };

    Connection c;
    c.setSafety(false);
    Table* t = c.create(path, {{"n_ame", 'C', 35, 0}, {"code", 'N', 10, 0}, {"add_r", 'C', 25, 0}}, tags);
    if (!t)
        return 1;
    Field* fName = t->field("n_ame");
    Field* fCode = t->field("code");
    auto t0 = Clock::now();
    for (int i = 0; i < n; ++i) {
        t->appendStart();
        t->blank();
        fName->assign(name(uint32_t(i)));
        fCode->assignInteger(long(rng() % 10000000));
        t->append();
    }
    t->flush();
    double appendS = since(t0);
    std::printf("appends with two tags: %d records in %.3f s = %.0f records/s\n", n, appendS, n / appendS);

    t->selectTag("N_AME");
    const int seeks = 200000;
    int found = 0;
    t0 = Clock::now();
    for (int i = 0; i < seeks; ++i)
        found += t->seek(name(uint32_t(rng() % uint32_t(n)))) == kSuccess;
    double seekS = since(t0);
    std::printf("random seeks, 35-character key: %d in %.3f s = %.0f seeks/s (%d found)\n", seeks, seekS,
                seeks / seekS, found);

    t->selectTag("CODE");
    found = 0;
    t0 = Clock::now();
    for (int i = 0; i < seeks; ++i)
        found += t->seek(std::to_string(rng() % 10000000)) == kSuccess;
    seekS = since(t0);
    std::printf("random seeks, 8-byte key: %d in %.3f s = %.0f seeks/s (%d found)\n", seeks, seekS, seeks / seekS,
                found);

    t0 = Clock::now();
    uint32_t walked = 0;
    for (int r = t->top(); r == kSuccess; r = t->skip(1))
        ++walked;
    double walkS = since(t0);
    std::printf("walk in tag order: %u records in %.3f s = %.0f records/s\n", walked, walkS, walked / walkS);

    t0 = Clock::now();
    bool ok = t->reindex();
    double reindexS = since(t0);
    std::printf("reindex, two tags: %.3f s%s\n", reindexS, ok ? "" : " (failed)");
    t->close();
    ::unlink(path.c_str());
    ::unlink((dir + "/bench_index_" + std::to_string(getpid()) + ".cdx").c_str());
    return 0;
}
