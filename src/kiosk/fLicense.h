#pragma once
// The licence plate screen of an inbound visit: the driver types the plate
// on the on-screen keyboard.

#include "kiosk/KioskScreen.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;
class OnScreenKeyboard;

class TfrmLicense : public KioskScreen {
    Q_OBJECT
public:
    explicit TfrmLicense(QWidget* parent = nullptr);

    QLabel* Label1;
    QLabel* Label4;
    QLabel* txtCust;
    QLineEdit* txtLicense;
    OnScreenKeyboard* Keyboard1;
    QPushButton* cmdHome;
    QTimer* timerBack;

signals:
    // The driver entered the plate (it is in CurrentTicket.truck).
    void plateEntered();
    // The driver touched the way back, or the time ran out.
    void visitAbandoned();

protected:
    void showEvent(QShowEvent* e) override;
    void hideEvent(QHideEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void txtLicenseKeyPress();
    void cmdHomeClick();
};

// The width of a plate is that of the ticket's truck field.
constexpr int kPlateWidth = 12;
