// bench_devices: the scale frame parser and the card line parser on long
// streams, fed in chunks the size a serial port hands over.
//
//   bench_devices [MEGABYTES]
//
// Builds MEGABYTES (default 64) of indicator frames ("\x02  12345 KG\r\n",
// the weight changing from frame to frame, one overload frame in a hundred)
// and of card lines, then parses them in 4096-byte chunks and prints the
// best of five rounds in MB/s.

#include "devices/CardReader.h"
#include "devices/ScaleReading.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

std::string scaleStream(std::size_t bytes)
{
    std::string s;
    s.reserve(bytes + 64);
    char frame[32];
    for (unsigned i = 0; s.size() < bytes; ++i) {
        if (i % 100 == 99)
            std::snprintf(frame, sizeof frame, "\x02   ---- KG\r\n");
        else
            std::snprintf(frame, sizeof frame, "\x02 %6u KG\r\n", (i * 37u) % 80000u);
        s += frame;
    }
    return s;
}

std::string cardStream(std::size_t bytes)
{
    std::string s;
    s.reserve(bytes + 64);
    char line[48];
    for (unsigned i = 0; s.size() < bytes; ++i) {
        std::snprintf(line, sizeof line, ";%016u=4912?\r\n", i);
        s += line;
    }
    return s;
}

template <typename Parse>
double bestRate(const std::string& stream, Parse parse)
{
    double best = 0;
    for (int round = 0; round < 5; ++round) {
        const auto start = std::chrono::steady_clock::now();
        for (std::size_t at = 0; at < stream.size(); at += 4096)
            parse(std::string_view(stream).substr(at, 4096));
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        best = std::max(best, double(stream.size()) / 1e6 / seconds);
    }
    return best;
}

}  // namespace

int main(int argc, char** argv)
{
    const long mb = argc > 1 ? std::atol(argv[1]) : 64;
    if (mb <= 0) {
        std::fprintf(stderr, "usage: bench_devices [MEGABYTES]\n");
        return 2;
    }
    const std::size_t bytes = std::size_t(mb) * 1000 * 1000;

    const std::string frames = scaleStream(bytes);
    devices::ScaleReadingState reading;
    const double scale = bestRate(frames, [&](std::string_view chunk) { devices::ParseScaleBytes(chunk, reading); });
    std::printf("ParseScaleBytes: %.1f MB of frames, best of 5: %.0f MB/s (last weight %s %s)\n", double(frames.size()) / 1e6,
                scale, reading.weight.c_str(), reading.unit.c_str());

    const std::string cards = cardStream(bytes);
    devices::CardReaderState state;
    devices::CardRouter nobody;  // every line dropped: the parser alone is timed
    const double card = bestRate(cards, [&](std::string_view chunk) { devices::ParseCardBytes(chunk, state, nobody); });
    std::printf("ParseCardBytes:  %.1f MB of card lines, best of 5: %.0f MB/s (last line %zu bytes)\n",
                double(cards.size()) / 1e6, card, state.lastLine.size());
    return 0;
}
