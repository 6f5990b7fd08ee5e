#include "kiosk/fOutbound.h"

#include "data/TicketValues.h"
#include "devices/SerialPort.h"
#include "dialogs/MessageSeam.h"
#include "kiosk/CurrentTicket.h"
#include "kiosk/KioskSettings.h"
#include "kiosk/ScaleCheck.h"
#include "kiosk/TicketPrintout.h"
#include "kiosk/uDB.h"

#include <QLabel>
#include <QTimer>

namespace {
constexpr const char* kNotPrinted =
    "THE TICKET COULD NOT BE PRINTED.  Your weighing is stored; please see the scale office.";
}  // namespace

TfrmOutbound::TfrmOutbound(QWidget* parent) : KioskScreen(1012, 726, parent)
{
    setObjectName("frmOutbound");
    setWindowTitle("Outbound");
    auto label = [this](const char* name, const QString& text, int x, int y, int w, int h, int font,
                        bool value = false) {
        QLabel* l = value ? new FitLabel(this) : new QLabel(this);
        l->setText(text);
        l->setObjectName(name);
        place(l, x, y, w, h, font);
        return l;
    };
    Label1 = label("Label1", "OUTBOUND", 0, 8, 1012, 80, 64);
    Label1->setAlignment(Qt::AlignCenter);
    Label2 = label("Label2", "License Plate:", 96, 110, 260, 40, 32);
    txtLicense = label("txtLicense", "", 360, 110, 620, 40, 32, true);
    Label4 = label("Label4", "Customer:", 96, 160, 260, 40, 32);
    txtCust = label("txtCust", "", 360, 160, 620, 40, 32, true);
    Label6 = label("Label6", "GROSS:", 96, 230, 260, 60, 48);
    txtGross = label("txtGross", "", 360, 230, 300, 60, 48, true);
    Label8 = label("Label8", "TARE:", 96, 300, 260, 60, 48);
    txtTare = label("txtTare", "", 360, 300, 300, 60, 48, true);
    Label10 = label("Label10", "NET:", 96, 370, 260, 60, 48);
    txtNet = label("txtNet", "", 360, 370, 300, 60, 48, true);
    for (QLabel* v : {txtLicense, txtCust, txtGross, txtTare, txtNet})
        v->setForegroundRole(QPalette::Highlight);
    for (QLabel* v : {txtGross, txtTare, txtNet})
        v->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    Label12 = label("Label12",
                    "PLEASE TAKE THE TICKET FROM THE PRINTER.  The weights above will print on the ticket.", 96,
                    460, 640, 220, 43);
    Label12->setWordWrap(true);
    Image1 = label("Image1", "", 760, 460, 200, 220, 0);

    comPrinter = new devices::SerialPort(this);
    comPrinter->setObjectName("comPrinter");

    timerDisplay = new QTimer(this);
    timerDisplay->setObjectName("timerDisplay");
    timerDisplay->setSingleShot(true);
    connect(timerDisplay, &QTimer::timeout, this, &TfrmOutbound::timerDisplayTimer);
}

void TfrmOutbound::showEvent(QShowEvent* e)
{
    KioskScreen::showEvent(e);
    if (!shownOnce_) {
        shownOnce_ = true;
        FormShow();
    }
}

void TfrmOutbound::FormShow()
{
    kiosk::Ticket& ct = kiosk::CurrentTicket();
    if (ct.out_wgt.empty())
        return;
    auto w = values::weighing(ct.in_wgt, ct.out_wgt);
    if (w) {
        txtGross->setText(QString::fromStdString(w->gross));
        txtTare->setText(QString::fromStdString(w->tare));
        ct.net_wgt = std::to_string(w->net);
        txtNet->setText(QString::fromStdString(ct.net_wgt));
    }
    timerDisplay->stop();
    timerDisplay->start(
        kiosk::TimeoutMsOr(kiosk::KioskSettings().outboundTimeout, kiosk::kOutboundSecondsWithoutTimeout));
    // The screen paints first; then the ticket is stored and printed.
    QTimer::singleShot(0, this, &TfrmOutbound::completeAndPrint);
}

void TfrmOutbound::completeAndPrint()
{
    completing_ = true;
    kiosk::Completion c = kiosk::CompleteTicket();
    // A ticket is printed only once it is stored: a printed ticket the site
    // has no record of could not be billed or traced.
    stored = c == kiosk::Completion::Completed || c == kiosk::Completion::LeftOpen;
    if (stored) {
        // Two copies; a printer that fails the first is not tried again (it
        // would hold the screen as long once more for the same answer).
        for (int copy = 0; copy < 2; ++copy) {
            const kiosk::PrintOutcome out = kiosk::SendKioskTicket(*comPrinter);
            if (!out.printed) {
                dialogs::logLine("ticket " + std::to_string(kiosk::CurrentTicket().ticket) + " stored but not printed: " +
                                 out.fault + (out.detail.empty() ? "" : " " + out.detail));
                Label12->setText(kNotPrinted);
                dialogs::ShowMsgBox("Printer Error", "Your weighing is stored, but the ticket could not be printed.",
                                    "Please see the scale office.", dialogs::kError, dialogs::kOk);
                break;
            }
            ++printed;
        }
    } else {
        // Nothing to take from the printer: the driver is not told to.
        timerDisplay->stop();
        Label12->hide();
        if (c == kiosk::Completion::NotFound)
            dialogs::ShowMsgBox("Ticket Error", "The open ticket was not found.", "Please see the scale office.",
                                dialogs::kError, dialogs::kOk);
        else if (c == kiosk::Completion::BadWeight)
            kiosk::ShowUnreadableWeight();
        // NotSaved was reported where it failed.
    }
    kiosk::ClearTicket();
    completing_ = false;
    if (!stored) {
        // The ticket stays open; the driver swipes again or sees the office.
        emit ticketNotStored();
    } else if (timedOut_) {
        timerDisplayTimer();
    }
}

void TfrmOutbound::timerDisplayTimer()
{
    timerDisplay->stop();
    if (completing_) {
        // The time-out came while a printer or table message showed; the
        // instructions follow once the ticket is done.
        timedOut_ = true;
        return;
    }
    timedOut_ = false;
    emit timedOut();
}
