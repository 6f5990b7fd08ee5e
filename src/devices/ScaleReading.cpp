#include "devices/ScaleReading.h"

#include "devices/SerialPort.h"

#include <chrono>

namespace devices {

namespace {

constexpr char kStx = 0x02;
constexpr char kCr = 0x0D;

bool isOverload(const std::string& frame) { return frame.find("---") != std::string::npos; }

void endRun(ScaleReadingState& r)
{
    r.runSinceMs = -1;
    r.lastFrameMs = -1;
}

}  // namespace

long long monotonicMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

long long steadyForMs(const ScaleReadingState& r, long long nowMs)
{
    if (r.runSinceMs < 0 || r.lastFrameMs < r.runSinceMs || nowMs - r.lastFrameMs > kStaleFrameMs)
        return -1;
    return r.lastFrameMs - r.runSinceMs;
}

ScaleReadingState& ScaleReading()
{
    static ScaleReadingState reading;
    return reading;
}

void ResetScaleReading(ScaleReadingState& reading)
{
    reading.unit.clear();
    reading.weight.clear();
    reading.fresh = false;
    reading.frameBuffer.clear();
    reading.inFrame = false;
    reading.frameUnit = 0;
    endRun(reading);
}

void configureScalePort(SerialPort& port, int portNumber)
{
    port.setPortNumber(portNumber);
    port.setLineSettings({1200, 8, Parity::None, 1});
    port.setBufferSizes(8192, 8192);
    FlowControl flow;
    flow.receive = true;
    flow.transmit = false;
    flow.xon = kScaleXOn;
    flow.xoff = kScaleXOff;
    port.setFlowControl(flow);
}

void ParseScaleData(SerialPort& port, int count)
{
    char chunk[512];
    while (count > 0) {
        const std::size_t want = count < int(sizeof chunk) ? std::size_t(count) : sizeof chunk;
        const std::size_t got = port.read(chunk, want);
        if (got == 0)
            break;
        ParseScaleBytes(std::string_view(chunk, got));
        count -= int(got);
    }
}

void ParseScaleBytes(std::string_view bytes, ScaleReadingState& r, long long atMs)
{
    if (r.frameBuffer.capacity() < kMaxScaleFrame)
        r.frameBuffer.reserve(kMaxScaleFrame);
    for (const char c : bytes) {
        if ((c >= '0' && c <= '9') || c == '-') {
            if (!r.inFrame)
                continue;
            if (r.frameBuffer.size() >= kMaxScaleFrame) {
                // No indicator sends a weight this long: the frame is garbage.
                // Abandon it; nothing counts until the next STX.
                r.frameBuffer.clear();
                r.inFrame = false;
                r.frameUnit = 0;
                continue;
            }
            r.frameBuffer.push_back(c);
            continue;
        }
        switch (c) {
        case kStx:
            r.inFrame = true;
            r.frameBuffer.clear();
            r.frameUnit = 0;
            break;
        case kCr:
            if (!r.inFrame)
                break;  // no frame to end: the last reading is not renewed
            if (isOverload(r.frameBuffer)) {
                r.unit = "X";
                r.frameUnit = 0;
                endRun(r);
                break;
            }
            {
                if (atMs < 0)
                    atMs = monotonicMs();
                const std::string unit = r.frameUnit ? std::string(1, r.frameUnit) : r.unit;
                if (r.runSinceMs < 0 || r.weight != r.frameBuffer || r.unit != unit)
                    r.runSinceMs = atMs;
                r.lastFrameMs = atMs;
            }
            r.weight = r.frameBuffer;
            if (r.frameUnit)
                r.unit.assign(1, r.frameUnit);
            r.frameUnit = 0;
            r.inFrame = false;
            r.fresh = true;
            break;
        case 'K':
        case 'k':
        case 'L':
        case 'l': {
            const char letter = (c == 'k' || c == 'K') ? 'K' : 'L';
            if (r.inFrame) {
                r.frameUnit = letter;
            } else {
                if (r.unit.size() != 1 || r.unit[0] != letter)
                    endRun(r);  // the weight now means another unit
                r.unit.assign(1, letter);
            }
            break;
        }
        default:
            break;
        }
    }
}

void CheckScaleFreshness(ScaleReadingState& r)
{
    if (!r.fresh) {
        r.unit = "X";
        r.weight.clear();
        endRun(r);
    }
    r.fresh = false;
}

ScaleCheck CheckScale(const ScaleReadingState& reading, ScaleCheckScreen screen)
{
    ScaleCheck check;
    if (reading.unit == "X") {
        check.status = ScaleStatus::kInvalid;
        check.caption = "Weigh Scale Error";
        check.line1 = "Scale Indicator Error!";
        check.line2 = "Unable to read the weight.";
    } else if (reading.unit != "K") {
        check.status = ScaleStatus::kUnitMismatch;
        check.caption = "Weigh Scale Error";
        check.line1 = "Unit mis-matched!";
        check.line2 = screen == ScaleCheckScreen::kMaterial ? "Please set the Unit of the Scale to \"kg\","
                                                             : "Please set the Unit of the Scale to \"kg\"";
    } else {
        check.status = ScaleStatus::kValid;
        check.weight = reading.weight;
    }
    return check;
}

}  // namespace devices
