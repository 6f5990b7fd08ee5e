#include "kiosk/fLicense.h"

#include "dialogs/MessageSeam.h"
#include "dialogs/QtText.h"
#include "kiosk/CurrentTicket.h"
#include "kiosk/Keyboard.h"
#include "kiosk/KioskSettings.h"

#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

TfrmLicense::TfrmLicense(QWidget* parent) : KioskScreen(1012, 726, parent)
{
    setObjectName("frmLicense");
    setWindowTitle("Enter License Plate");

    Label1 = new QLabel("TOUCH THE KEYBOARD BELOW TO ENTER YOUR VEHICLE LICENSE PLATE NUMBER", this);
    Label1->setObjectName("Label1");
    Label1->setWordWrap(true);
    Label1->setAlignment(Qt::AlignCenter);
    place(Label1, 16, 8, 980, 100, 37);

    Label4 = new QLabel("Customer:", this);
    Label4->setObjectName("Label4");
    place(Label4, 40, 120, 160, 36, 27);
    txtCust = new FitLabel(this);
    txtCust->setObjectName("txtCust");
    txtCust->setForegroundRole(QPalette::Highlight);
    place(txtCust, 200, 120, 780, 36, 27);

    txtLicense = new QLineEdit(this);
    txtLicense->setObjectName("txtLicense");
    txtLicense->setAccessibleName("License plate");
    txtLicense->setMaxLength(kPlateWidth);
    txtLicense->setAlignment(Qt::AlignCenter);
    place(txtLicense, 306, 172, 400, 60, 40);
    txtLicense->installEventFilter(this);

    Keyboard1 = new OnScreenKeyboard(this);
    Keyboard1->setEdit(txtLicense);
    Keyboard1->setAccessibleName("On-screen keyboard");
    place(Keyboard1, 0, 256, 1012, 465);

    cmdHome = new QPushButton("Back to Main Screen", Keyboard1);
    cmdHome->setObjectName("cmdHome");
    QFont f("Arial");
    f.setBold(true);
    cmdHome->setFont(f);
    cmdHome->setFocusPolicy(Qt::NoFocus);
    connect(cmdHome, &QPushButton::clicked, this, &TfrmLicense::cmdHomeClick);

    timerBack = new QTimer(this);
    timerBack->setObjectName("timerBack");
    timerBack->setSingleShot(true);
    connect(timerBack, &QTimer::timeout, this, &TfrmLicense::cmdHomeClick);
    setTabOrder(txtLicense, Keyboard1);
}

void TfrmLicense::showEvent(QShowEvent* e)
{
    KioskScreen::showEvent(e);
    // The key area's spare room holds the way back, sized with the keyboard.
    cmdHome->setGeometry(Keyboard1->spareArea());
    QFont f = cmdHome->font();
    f.setPixelSize(std::max(10, int(32 * scale() + 0.5)));
    cmdHome->setFont(f);
    // The time counts from the showing; typing does not restart it.
    if (const int ms = kiosk::TimeoutMs(kiosk::KioskSettings().licenseTimeout))
        timerBack->start(ms);
    txtLicense->setFocus();
}

void TfrmLicense::hideEvent(QHideEvent* e)
{
    timerBack->stop();
    KioskScreen::hideEvent(e);
}

bool TfrmLicense::eventFilter(QObject* watched, QEvent* e)
{
    if (watched == txtLicense && (e->type() == QEvent::KeyPress || e->type() == QEvent::KeyRelease)) {
        // The plate is typed on the on-screen keyboard. Keys from the window
        // system come from a keyboard-type card reader (a card presented
        // again): its line is a card number, not a plate, and is dropped.
        if (e->spontaneous()) {
            if (e->type() == QEvent::KeyPress) {
                auto* k = static_cast<QKeyEvent*>(e);
                if (k->key() == Qt::Key_Return || k->key() == Qt::Key_Enter)
                    dialogs::logLine("a card line typed on the licence plate screen was not taken as a plate");
            }
            return true;
        }
        if (e->type() == QEvent::KeyPress) {
            auto* k = static_cast<QKeyEvent*>(e);
            if (k->key() == Qt::Key_Return || k->key() == Qt::Key_Enter) {
                txtLicenseKeyPress();
                return true;
            }
        }
    }
    return KioskScreen::eventFilter(watched, e);
}

void TfrmLicense::txtLicenseKeyPress()
{
    if (txtLicense->text().isEmpty()) {
        dialogs::ShowMsgBox("License Plate", "Please enter License Plate.", {}, dialogs::kError, dialogs::kOk);
        return;
    }
    kiosk::CurrentTicket().truck = dialogs::fromQt(txtLicense->text());
    emit plateEntered();
}

void TfrmLicense::cmdHomeClick()
{
    timerBack->stop();
    kiosk::ClearTicket();
    emit visitAbandoned();
}
