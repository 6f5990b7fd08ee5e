#pragma once
// The scale check a kiosk screen makes before it takes the weight, with the
// kiosk's message for a reading that cannot be used; and the taking of a
// weight for a ticket, which waits for the reading to settle.

#include "devices/ScaleReading.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <string>

namespace kiosk {

// Makes the check and, when the reading cannot be used, shows its message
// (error picture, OK). Gives true when the reading is valid; the weight is
// then in `weight`.
bool CheckScaleReading(std::string& weight,
                       devices::ScaleCheckScreen screen = devices::ScaleCheckScreen::kStandard,
                       const devices::ScaleReadingState& reading = devices::ScaleReading());

// The check of a weight the reading gave before it goes on a ticket: a
// weight that is not a whole number (debris of a garbled frame such as
// "12-3", "-" or "--", or more digits than the weight fields hold) is no
// reading, and shows the message of an invalid reading. An empty weight is
// the caller's to handle. Gives true when the weight can be used.
bool CheckWholeWeight(const std::string& weight);

// The message of an invalid reading, for a weight found unusable later.
void ShowUnreadableWeight();

// ---- taking a weight for a ticket ----

enum class WeightVerdict {
    kTake,    // the weight can go on the ticket
    kWait,    // the frames have not agreed for long enough yet
    kEmpty,   // kilograms, but no digits: the caller decides
    kRefuse,  // no weight for a ticket: `refusal` is the message
};

struct WeightJudgement {
    WeightVerdict verdict = WeightVerdict::kRefuse;
    std::string weight;          // for kTake, as the scale sent it
    devices::ScaleCheck refusal; // for kRefuse
};

// The reading judged for a ticket at `nowMs` (of devices::monotonicMs()):
//   an invalid reading or another unit than kilograms: refused with the
//   scale check's message; no digits: empty; a weight that is not a whole
//   number: refused as an invalid reading; with `steadyMs` above 0, frames
//   that have not agreed on the weight for that long: wait; a weight of 0
//   or less (an empty scale, a scale that drifted below zero): refused as an
//   invalid reading; otherwise taken.
WeightJudgement judgeWeight(const devices::ScaleReadingState& reading, devices::ScaleCheckScreen screen,
                            int steadyMs, long long nowMs);

// How long a screen waits for a settling reading before it gives the scale
// error: the steadiness time and this much more.
constexpr int kSettleSlackMs = 4000;

// Takes a weight for a ticket from the program's reading, with the
// steadiness of KioskSettings: at once when the reading is steady (or the
// check is off), otherwise after waiting for it to settle, checking every
// tenth of a second. A reading that cannot be used shows its message.
class WeightReader : public QObject {
    Q_OBJECT
public:
    explicit WeightReader(devices::ScaleCheckScreen screen, QObject* parent = nullptr);

    // Judges the reading now; may report before it returns.
    void start();
    // Stops waiting; nothing is reported.
    void cancel();
    bool busy() const { return poll_.isActive(); }

signals:
    // The reading is settling: the screen shows that it waits.
    void waiting();
    void weighed(const QString& weight);
    // Kilograms but no digits (no message shown).
    void empty();
    // No weight for a ticket; its message has been shown.
    void refused();

private:
    void judge();
    devices::ScaleCheckScreen screen_;
    QTimer poll_;
    QElapsedTimer waited_;
};

}  // namespace kiosk
