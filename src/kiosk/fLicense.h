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

    QWidget* swipe = nullptr;  // the screen that opened this one

protected:
    void showEvent(QShowEvent* e) override;
    void hideEvent(QHideEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void txtLicenseKeyPress();
    void cmdHomeClick();
};

// Creates a new licence plate screen for the visit, hides the swipe screen
// and shows it. The width of a plate is that of the ticket's truck field.
void ShowLicenseScreen(QWidget* swipe);
constexpr int kPlateWidth = 12;
