#pragma once
// Keys an operator's window takes from the keyboard beyond what its
// controls do by themselves.

class QAbstractButton;

namespace station {

// Enter (Return or the keypad's) on the button while it has the focus
// presses it, as Space does. A key held down presses it once: the repeats
// are dropped, so a held Enter never saves twice.
void pressOnEnter(QAbstractButton* button);

}  // namespace station
