#pragma once
// Giving a window the keyboard focus back after a modal window above it
// closed. Without a window manager nobody else does: the X server hands the
// focus to the root window when the modal window goes, and keys then reach
// no window of the program.

class QWidget;

namespace dialogs {

// Raises the window (of the widget) and makes it the active window, when it
// shows.
void takeFocus(QWidget* window);

}  // namespace dialogs
