// bench_codepage: the conversion of field text at the table boundary.
//
//   bench_codepage [COUNT]
//
// Times reading (decode) and writing (encode, cut to 30 bytes) a 30-byte
// text field COUNT times (default 1,000,000) in Windows 1252: once plain
// ASCII, which is copied as it is, once with accented letters, which go
// through the byte tables; and the first use of a code page, when its
// tables are read from iconv. The best of three runs is shown.

#include "data/CodePage.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

double nanosecondsPer(int count, const auto& job)
{
    double best = 1e300;
    for (int run = 0; run < 3; ++run) {
        const auto t0 = std::chrono::steady_clock::now();
        for (int i = 0; i < count; ++i)
            job();
        const auto t1 = std::chrono::steady_clock::now();
        best = std::min(best, std::chrono::duration<double, std::nano>(t1 - t0).count() / count);
    }
    return best;
}

}  // namespace

int main(int argc, char** argv)
{
    const int count = argc > 1 ? std::atoi(argv[1]) : 1000000;
    if (count <= 0) {
        std::fprintf(stderr, "usage: bench_codepage [COUNT]\n");
        return 2;
    }
    auto t0 = std::chrono::steady_clock::now();
    const xb::CodePage& page = xb::CodePage::ofMark(xb::kDefaultCodePageMark);
    auto t1 = std::chrono::steady_clock::now();
    std::printf("first use of 1252 (its tables from iconv): %.0f us\n",
                std::chrono::duration<double, std::micro>(t1 - t0).count());

    const std::string plain = "BLUE RIVER AGGREGATES LTD     ";
    const std::string accented = "M\xDCLLER BAU PE\xD1" "A CONCASS\xC9" "E    ";
    volatile std::size_t sink = 0;
    for (const std::string* stored : {&plain, &accented}) {
        const std::string text = page.decode(*stored);
        const double read = nanosecondsPer(count, [&] { sink = sink + page.decode(*stored).size(); });
        const double write = nanosecondsPer(count, [&] { sink = sink + page.encode(text, 30).bytes.size(); });
        std::printf("%-8s 30-byte field: read %.0f ns, write %.0f ns\n", stored == &plain ? "ASCII" : "accented",
                    read, write);
    }
    return 0;
}
