#pragma once
// The kiosk's main window: "Please swipe card". It lives for the whole run
// and owns the scale port, the card port and the scale's freshness timer,
// which keep working while other screens and the station show.

#include "devices/CardReader.h"
#include "kiosk/KioskScreen.h"

#include <QPointer>
#include <functional>

class QLabel;
class QLineEdit;
class QTimer;

namespace devices { class SerialPort; }
namespace kiosk { class WeightReader; }

class TfrmSwipe : public KioskScreen, public devices::CardTarget {
    Q_OBJECT
public:
    explicit TfrmSwipe(QWidget* parent = nullptr);
    ~TfrmSwipe() override;

    // Creation in its order: data connection, ports and printer type,
    // scale port, instruction lines and time-outs. Called once, before the
    // screen is first shown.
    void FormCreate();

    QLabel* Label1;
    QLabel* Label2;
    QLabel* Image1;
    QLabel* Image2;
    QLineEdit* txtSwipe;
    QLabel* lblWait;  // shown while the weight of an outbound visit settles
    devices::SerialPort* comOutWeigh;
    devices::SerialPort* comCard;
    QTimer* Timer1;

    // The card router's target: the swipe screen takes lines while showing.
    bool accepts() const override;
    void deliver(const std::string& text) override;

    // The Ctrl+F1 action: ends the program.
    void CloseKiosk();
    // The Ctrl+F10 action.
    void OpenStation();

signals:
    // A known customer's card, and no open ticket: a first weighing (the
    // customer is in CurrentTicket).
    void customerWithoutTicket();
    // A known customer with an open ticket, and a weight read: the second
    // weighing (CurrentTicket holds the ticket and the out weight).
    void customerWithTicket();
    // Ctrl+F1: the kiosk is ending; the other screens close now.
    void kioskClosing();

protected:
    void showEvent(QShowEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void FormShow();
    void txtSwipeKeyPress();
    void txtSwipeChange(const QString& text);
    void txtSwipeKeyUp(int key, Qt::KeyboardModifiers mods);
    void Dispatch(const std::string& cardNumber, const std::string& retryMessage);
    void weighedOut(const QString& weight);
    void refusedOut(bool empty);

    kiosk::WeightReader* reader_;
    std::string retryMessage_;
    int pressedKey_ = 0;
    Qt::KeyboardModifiers pressedMods_;
};

namespace kiosk {

// The one swipe screen of the program (null before it is created).
TfrmSwipe* SwipeScreen();

// Hides `caller` and shows the swipe screen.
void ShowSwipeScreen(QWidget* caller);

// What Ctrl+F10 opens: the station installs its opener; until then the key
// shows that no station is available. The opener is given the swipe screen
// and gives true when the program is to end.
using StationOpener = std::function<bool(TfrmSwipe*)>;
StationOpener setStationOpener(StationOpener opener);

}  // namespace kiosk
