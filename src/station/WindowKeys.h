#pragma once
// Keys an operator's window takes from the keyboard beyond what its
// controls do by themselves.

class QAbstractButton;

namespace station {

// Enter (Return or the keypad's) on the button while it has the focus
// presses it, as Space does. A key held down presses once, whatever took
// the press: its repeats are dropped however they come (flagged as
// repeats, or as presses without a release between them, as an X server
// sends them to a client that asked for detectable repeat), also where the
// press went to another button or window that moved the focus here (a
// reading that moves it to Done, a list that closes on Enter).
void pressOnEnter(QAbstractButton* button);

}  // namespace station
