#pragma once
// The kiosk's visit in one place. Each screen reports what happened on it
// (a card without an open ticket, a plate entered, a material touched and
// stored, a ticket completed or not, a time-out, the way back touched); the
// flow decides which screen shows next and when the visit ends. No screen
// shows another.
//
// A visit (the swipe screen is always there beneath):
//   card, no open ticket -> licence plate -> material -> inbound instructions
//   card, open ticket    -> outbound (completed, printed) -> outbound instructions
// and back to the swipe screen when the instructions time out, when the
// driver touches the way back or the plate or material screen times out,
// when no material can be offered, or when the ticket cannot be numbered or
// stored. A message left unanswered goes with its visit when the visit's
// time runs out; one that ends a visit early stays over the swipe screen
// until it is answered or the next visit begins.

#include <QObject>
#include <QPointer>

class QWidget;
class TfrmSwipe;
class TfrmLicense;
class TfrmMaterial;
class TfrmOutbound;
class TfrmDriverInst;

namespace kiosk {

class KioskFlow : public QObject {
    Q_OBJECT
public:
    // Takes the swipe screen's reports and shows it.
    void start(TfrmSwipe* swipe);

    // The screens of the visit in progress (null when none).
    QPointer<TfrmLicense> license;
    QPointer<TfrmMaterial> material;
    QPointer<TfrmOutbound> outbound;
    QPointer<TfrmDriverInst> instructions;

    // The steps, in the order of a visit.
    void askPlate();
    void askMaterial();
    void weighOut();
    void showInstructions(bool inbound, QWidget* from);
    // Back to the swipe screen; a message of the visit stays until answered.
    void endVisit(QWidget* from);
    // The driver has gone (a screen's time ran out, the way back touched):
    // the visit's messages go with it, and the swipe screen shows.
    void leaveVisit(QWidget* from);

    // Closes every screen of the visit (the kiosk is ending).
    void closeScreens();

private:
    // A card began a visit: what the visit before left on the screen goes.
    void newVisit();
    QPointer<TfrmSwipe> swipe_;
};

// The program's one flow.
KioskFlow& Flow();

}  // namespace kiosk
