#include "kiosk/KioskFlow.h"

#include "dialogs/MessageSeam.h"
#include "dialogs/fMsgBox.h"
#include "kiosk/CurrentTicket.h"
#include "kiosk/KioskSettings.h"
#include "kiosk/fDriverInst.h"
#include "kiosk/fLicense.h"
#include "kiosk/fMaterial.h"
#include "kiosk/fOutbound.h"
#include "kiosk/fSwipe.h"

#include <QLabel>
#include <QPlainTextEdit>

namespace kiosk {

KioskFlow& Flow()
{
    static KioskFlow* flow = new KioskFlow;
    return *flow;
}

namespace {
// A screen of an earlier visit goes once the event that replaced it is done.
template <class Screen>
void replace(QPointer<Screen>& slot, Screen* next)
{
    if (slot && slot != next)
        slot->deleteLater();
    slot = next;
}
}  // namespace

void KioskFlow::start(TfrmSwipe* swipe)
{
    if (swipe_ != swipe) {
        swipe_ = swipe;
        connect(swipe, &TfrmSwipe::customerWithoutTicket, this, &KioskFlow::askPlate);
        connect(swipe, &TfrmSwipe::customerWithTicket, this, &KioskFlow::weighOut);
        connect(swipe, &TfrmSwipe::kioskClosing, this, &KioskFlow::closeScreens);
        guardRepeatedTouches();
        // The visit's screens go with the swipe screen.
        connect(swipe, &QObject::destroyed, this, [this] {
            delete license;
            delete material;
            delete outbound;
            delete instructions;
        });
    }
    ShowSwipeScreen(nullptr);
}

// ---- a first weighing ----

void KioskFlow::newVisit()
{
    // A message left by the visit before (its driver went to the office
    // without touching it) is not this driver's: his visit does not show
    // under it.
    dialogs::dismissMsgBoxes("the next visit began");
}

void KioskFlow::askPlate()
{
    newVisit();
    auto* screen = new TfrmLicense;
    replace(license, screen);
    connect(screen, &TfrmLicense::plateEntered, this, &KioskFlow::askMaterial);
    connect(screen, &TfrmLicense::visitAbandoned, this, [this, screen] { leaveVisit(screen); });
    if (swipe_)
        swipe_->hide();
    screen->txtCust->setText(QString::fromStdString(CurrentTicket().customer));
    FitToScreen(screen);
}

void KioskFlow::askMaterial()
{
    auto* screen = new TfrmMaterial;
    if (!screen->FormCreate()) {
        // Sixteen empty buttons and no way back would hold the kiosk.
        delete screen;
        dialogs::ShowMsgBox("Material Error", "No materials are available.", "Please see the scale office.",
                            dialogs::kError, dialogs::kOk);
        ClearTicket();
        endVisit(license);
        return;
    }
    replace(material, screen);
    connect(screen, &TfrmMaterial::ticketStored, this, [this, screen] { showInstructions(true, screen); });
    connect(screen, &TfrmMaterial::ticketNotStored, this, [this, screen] {
        ClearTicket();
        endVisit(screen);
    });
    connect(screen, &TfrmMaterial::visitAbandoned, this, [this, screen] {
        ClearTicket();
        leaveVisit(screen);
    });
    if (license)
        license->hide();
    FitToScreen(screen);
    screen->txtLicense->setText(QString::fromStdString(CurrentTicket().truck));
    screen->txtCust->setText(QString::fromStdString(CurrentTicket().customer));
}

// ---- a second weighing ----

void KioskFlow::weighOut()
{
    newVisit();
    auto* screen = new TfrmOutbound;
    replace(outbound, screen);
    connect(screen, &TfrmOutbound::ticketNotStored, this, [this, screen] { endVisit(screen); });
    connect(screen, &TfrmOutbound::timedOut, this, [this, screen] { showInstructions(false, screen); });
    if (swipe_)
        swipe_->hide();
    screen->txtLicense->setText(QString::fromStdString(CurrentTicket().truck));
    screen->txtCust->setText(QString::fromStdString(CurrentTicket().customer));
    FitToScreen(screen);
}

// ---- the end of either ----

void KioskFlow::showInstructions(bool inbound, QWidget* from)
{
    TfrmDriverInst* screen = instructions.data();
    if (!screen) {
        screen = new TfrmDriverInst;
        instructions = screen;
        connect(screen, &TfrmDriverInst::timedOut, this, [this, screen] { leaveVisit(screen); });
    }
    if (from)
        from->hide();
    const auto& lines = inbound ? KioskSettings().inboundLines : KioskSettings().outboundLines;
    QStringList text;
    for (const auto& l : lines)
        text << QString::fromStdString(l);
    screen->memoInst->setPlainText(text.join('\n'));
    if (screen->isVisible())
        screen->hide();  // shown again below, which restarts its timer
    FitToScreen(screen);
}

void KioskFlow::endVisit(QWidget* from) { ShowSwipeScreen(from); }

void KioskFlow::leaveVisit(QWidget* from)
{
    // Nobody is left to answer a message of this visit.
    dialogs::dismissMsgBoxes("the visit ended");
    endVisit(from);
}

void KioskFlow::closeScreens()
{
    dialogs::dismissMsgBoxes("the kiosk is ending");
    for (KioskScreen* w : std::initializer_list<KioskScreen*> {license.data(), material.data(), outbound.data(),
                                                              instructions.data()})
        if (w)
            w->closeByProgram();
}

}  // namespace kiosk
