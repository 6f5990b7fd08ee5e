#pragma once
// The kiosk's large-print message box: a caption, two lines, a picture of
// the kind of message and one or two big buttons, made for a touch screen.
//
// The kiosk runs without a window manager, so the box draws its own caption
// bar above its design area. A line too wide for the box makes the box wider,
// up to the width of the screen; a line wider still is broken over several
// lines (at blanks, or inside a long word such as a device path) and the box
// grows down. A message that fits keeps the design's sizes.

#include "dialogs/MessageSeam.h"

#include <QDialog>

class QLabel;
class QPushButton;

class TfrmMsgBox : public QDialog {
    Q_OBJECT
public:
    explicit TfrmMsgBox(QWidget* parent = nullptr);

    // Sets caption, lines, picture and buttons as the message asks.
    void setMessage(const dialogs::Message& m);
    const dialogs::Message& message() const { return message_; }

    QLabel* lblCaption;  // the caption bar
    QLabel* txtMessage1;
    QLabel* txtMessage2;
    QLabel* imgSign;
    QPushButton* cmdOK;
    QPushButton* cmdCancel;

    // The picture file of a kind in the program directory; empty for a kind
    // that has none.
    static QString pictureFile(int kind);

private:
    int px(int designPixels) const;
    // Sizes the box and places its controls for the caption and lines shown,
    // the design width being that of the buttons asked for.
    void arrange(int designWidth);
    double scale_ = 1.0;
    QString line1_, line2_;  // the lines as given, before any breaking
    dialogs::Message message_;
};

namespace dialogs {
// Shows the message in a TfrmMsgBox, modally, over the active window, and
// waits for it; gives the button pressed: the first (Yes or OK), the second
// (No or Cancel), or kClosed. The window beneath takes the keyboard focus
// back when it closes.
Answer answerInMsgBox(const Message& m);
// The same, as ShowMsgBox gives it: false for the first button.
bool showInMsgBox(const Message& m);

// The kiosk's boxes that need no choice (OK only), one at a time: the box
// shows at once when none is showing, and otherwise waits its turn (a
// message the same as one showing or waiting is not shown twice). Nothing
// waits for the answer: the caller goes on, and the box stays, modal and on
// top of every window the program shows meanwhile, until it is answered or
// dismissed. A box is a window of its own, so closing or destroying the
// screen it was shown over leaves it whole. The window beneath takes the
// keyboard focus back when the last box closes.
void postMsgBox(const Message& m);
// The box showing (null when none) and how many wait behind it.
TfrmMsgBox* showingMsgBox();
int waitingMsgBoxes();
// Closes the box showing (as closed, not answered) and drops those waiting,
// each noted in the log with `why`: the visit they belong to is over.
void dismissMsgBoxes(const std::string& why);
// The kiosk's boxes are answered by touch only. A keyboard-type card reader
// types the card's characters and Enter wherever the keyboard is, which is
// a box while one shows: those keys (text without Ctrl, Alt or Meta, and
// Return or Enter) never answer a box. They go to `target` (the swipe
// screen's card box) while it shows, and are dropped otherwise, as a card
// line from the card port is.
void setCardKeysTarget(QWidget* target);
// Puts the box that takes input (the newest modal kiosk box) above every
// other window and gives it the keyboard: without a window manager a window
// shown after it would cover it. Does nothing when no kiosk box shows.
void keepMsgBoxOnTop();
}  // namespace dialogs
