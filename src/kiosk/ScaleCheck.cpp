#include "kiosk/ScaleCheck.h"

#include "data/TicketValues.h"
#include "dialogs/MessageSeam.h"
#include "kiosk/KioskSettings.h"
#include "kiosk/uDB.h"

namespace kiosk {

namespace {

void show(const devices::ScaleCheck& check)
{
    dialogs::ShowMsgBox(check.caption, check.line1, check.line2, dialogs::kError, dialogs::kOk);
}

// The message of an invalid reading ("Scale Indicator Error!").
devices::ScaleCheck invalidReading()
{
    devices::ScaleReadingState invalid;
    invalid.unit = "X";
    return devices::CheckScale(invalid);
}

}  // namespace

bool CheckScaleReading(std::string& weight, devices::ScaleCheckScreen screen,
                       const devices::ScaleReadingState& reading)
{
    const devices::ScaleCheck check = devices::CheckScale(reading, screen);
    if (check.status != devices::ScaleStatus::kValid) {
        show(check);
        return false;
    }
    weight = check.weight;
    return true;
}

bool CheckWholeWeight(const std::string& weight)
{
    if (IsWholeWeight(weight))
        return true;
    ShowUnreadableWeight();
    return false;
}

// Worded as the indicator's own invalid reading.
void ShowUnreadableWeight() { show(invalidReading()); }

WeightJudgement judgeWeight(const devices::ScaleReadingState& reading, devices::ScaleCheckScreen screen,
                            int steadyMs, long long nowMs)
{
    WeightJudgement j;
    const devices::ScaleCheck check = devices::CheckScale(reading, screen);
    if (check.status != devices::ScaleStatus::kValid) {
        j.refusal = check;
        return j;
    }
    if (check.weight.empty()) {
        j.verdict = WeightVerdict::kEmpty;
        return j;
    }
    const std::optional<long long> kg = values::wholeWeight(check.weight);
    if (!kg) {
        j.refusal = invalidReading();
        return j;
    }
    if (steadyMs > 0 && devices::steadyForMs(reading, nowMs) < steadyMs) {
        j.verdict = WeightVerdict::kWait;
        return j;
    }
    if (*kg <= 0) {
        j.refusal = invalidReading();
        return j;
    }
    j.verdict = WeightVerdict::kTake;
    j.weight = check.weight;
    return j;
}

WeightReader::WeightReader(devices::ScaleCheckScreen screen, QObject* parent) : QObject(parent), screen_(screen)
{
    poll_.setInterval(100);
    connect(&poll_, &QTimer::timeout, this, &WeightReader::judge);
}

void WeightReader::start()
{
    poll_.stop();
    waited_.start();
    judge();
}

void WeightReader::cancel() { poll_.stop(); }

void WeightReader::judge()
{
    const int steady = KioskSettings().steadyMs;
    WeightJudgement j = judgeWeight(devices::ScaleReading(), screen_, steady, devices::monotonicMs());
    if (j.verdict == WeightVerdict::kWait) {
        if (waited_.elapsed() < steady + kSettleSlackMs) {
            if (!poll_.isActive()) {
                poll_.start();
                emit waiting();
            }
            return;
        }
        // It never settled: no weight for a ticket.
        dialogs::logLine("scale: the weight did not settle within " + std::to_string(waited_.elapsed()) + " ms");
        j.verdict = WeightVerdict::kRefuse;
        j.refusal = invalidReading();
    }
    poll_.stop();
    switch (j.verdict) {
    case WeightVerdict::kTake: emit weighed(QString::fromStdString(j.weight)); break;
    case WeightVerdict::kEmpty: emit empty(); break;
    default:
        show(j.refusal);
        emit refused();
        break;
    }
}

}  // namespace kiosk
