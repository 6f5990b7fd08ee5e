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
};

namespace dialogs {
// Shows the message in a TfrmMsgBox, modally, over the active window; gives
// the button pressed: the first (Yes or OK), the second (No or Cancel), or
// kClosed. The window beneath takes the keyboard focus back when it closes.
Answer answerInMsgBox(const Message& m);
// The same, as ShowMsgBox gives it: false for the first button.
bool showInMsgBox(const Message& m);
}  // namespace dialogs
