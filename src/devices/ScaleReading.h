#pragma once
// The scale indicator's reading. The indicator sends its weight continuously
// in frames (STX, weight digits and minus signs, CR; the unit letter K or L
// somewhere; "---" for an overload or a fault); every byte is parsed as it
// arrives and the latest complete reading kept in ScaleReading(). Nothing asks
// the indicator for a weight: consumers take the latest reading after the
// scale check. A freshness check every 5 seconds invalidates the reading when
// the indicator falls silent.

#include <cstddef>
#include <string>
#include <string_view>

namespace devices {

class SerialPort;

struct ScaleReadingState {
    // "K" (kilograms), "L" (pounds), "X" (no valid reading), or empty before
    // any unit letter has arrived.
    std::string unit;
    // Digits and minus signs of the last complete frame, as received (leading
    // zeros kept).
    std::string weight;
    // A complete frame has arrived since the last freshness check.
    bool fresh = false;
    // Digits and minus signs of the frame in progress.
    std::string frameBuffer;
    // A frame start has been seen and its end not yet.
    bool inFrame = false;
    // The unit letter met inside the frame in progress (0: none yet). It takes
    // effect with the frame's weight at its CR, so a reading never pairs one
    // frame's unit with another frame's weight.
    char frameUnit = 0;
    // How steady the reading is, in milliseconds of monotonicMs(): when the
    // run of frames that all carried the present weight (in the present
    // unit) began, and when its latest frame came. -1 while there is no
    // valid reading.
    long long runSinceMs = -1;
    long long lastFrameMs = -1;
};

// A clock for the steadiness of the reading: milliseconds that only go on
// (not the time of day).
long long monotonicMs();

// A run whose latest frame is older than this is no longer steady: the
// indicator has stopped sending, and the freshness check has not yet come.
constexpr long long kStaleFrameMs = 2000;

// For how long the frames have agreed on the present weight at `nowMs`: the
// time from the first frame of the run to its latest; -1 when there is no
// valid reading or its latest frame is stale.
long long steadyForMs(const ScaleReadingState& reading, long long nowMs);

// The frame bound: a frame that collects more weight characters than this
// is abandoned (the frame buffer emptied, its unit letter dropped, in frame
// cleared) and everything up to the next STX is ignored, so a device that
// streams digits without ever sending CR cannot make the buffer grow.
constexpr std::size_t kMaxScaleFrame = 256;

constexpr unsigned char kScaleXOn = 0x02;
constexpr unsigned char kScaleXOff = 0x13;

// The program's one reading.
ScaleReadingState& ScaleReading();
// Back to the start: everything empty or false.
void ResetScaleReading(ScaleReadingState& reading = ScaleReading());

// Sets up the scale port: the port number, 1200 baud 8N1, 8192-byte buffers,
// software flow control in the receive direction only with XOn 0x02 and XOff
// 0x13 (the driver must not swallow the indicator's STX bytes, so transmit
// flow control stays off). Does not open it.
void configureScalePort(SerialPort& port, int portNumber);

// Reads up to count waiting bytes from the port and parses them in order.
void ParseScaleData(SerialPort& port, int count);
// Parses received bytes into the reading:
//   STX        starts a frame (frame buffer emptied);
//   "0"-"9"/"-" are kept inside a frame;
//   K k L l    a unit letter: outside a frame it is the unit at once, inside
//              one it becomes the unit with the frame's weight at CR;
//   CR         ends the frame: with "---" in it the unit becomes "X" and the
//              weight and fresh keep their values (the frame stays open until
//              the next STX); otherwise weight := frame buffer, fresh set.
//              A CR outside a frame ends nothing and changes nothing.
//   anything else (blanks, "+", ".", other letters, LF) is ignored.
// Each frame's weight is timed at `atMs` (now when -1): a frame carrying
// the weight and unit of the one before continues its run, any other frame
// starts a new one, an overload ends it.
void ParseScaleBytes(std::string_view bytes, ScaleReadingState& reading = ScaleReading(), long long atMs = -1);

// The freshness check of the swipe screen's 5-second timer: when no complete
// frame arrived since the previous check the reading becomes invalid (unit
// "X", weight empty, no run); then fresh is cleared.
void CheckScaleFreshness(ScaleReadingState& reading = ScaleReading());

// ---- the scale check every consumer makes before it uses the weight ----

enum class ScaleStatus {
    kValid,         // unit "K": the weight text is the reading (possibly empty)
    kInvalid,       // unit "X": "Scale Indicator Error!"
    kUnitMismatch,  // unit empty or "L": "Unit mis-matched!"
};

// The material screen words the unit message with a final comma.
enum class ScaleCheckScreen { kStandard, kMaterial };

struct ScaleCheck {
    ScaleStatus status = ScaleStatus::kValid;
    std::string caption;  // the message, empty when valid
    std::string line1;
    std::string line2;
    std::string weight;   // the weight text when valid
};

ScaleCheck CheckScale(const ScaleReadingState& reading = ScaleReading(),
                      ScaleCheckScreen screen = ScaleCheckScreen::kStandard);

}  // namespace devices
