#pragma once
// The outbound screen of a second visit: plate, customer, gross, tare and
// net. Showing it completes the ticket and prints it twice.

#include "kiosk/KioskScreen.h"

class QLabel;
class QTimer;
namespace devices { class SerialPort; }

class TfrmOutbound : public KioskScreen {
    Q_OBJECT
public:
    explicit TfrmOutbound(QWidget* parent = nullptr);

    QLabel* Label1;
    QLabel* Label2;
    QLabel* txtLicense;
    QLabel* Label4;
    QLabel* txtCust;
    QLabel* Label6;
    QLabel* txtGross;
    QLabel* Label8;
    QLabel* txtTare;
    QLabel* Label10;
    QLabel* txtNet;
    QLabel* Label12;
    QLabel* Image1;
    devices::SerialPort* comPrinter;
    QTimer* timerDisplay;

    // Whether the ticket of this visit was stored and printed.
    bool stored = false;
    int printed = 0;

signals:
    // The ticket could not be stored (the driver has been told): the visit
    // ends.
    void ticketNotStored();
    // The ticket is stored and printed and the screen's time is up.
    void timedOut();

protected:
    void showEvent(QShowEvent* e) override;

private:
    void FormShow();
    void completeAndPrint();
    void timerDisplayTimer();
    bool shownOnce_ = false;
    // The ticket is being completed and printed: messages may be showing,
    // and the time-out waits for the outcome.
    bool completing_ = false;
    bool timedOut_ = false;
};
