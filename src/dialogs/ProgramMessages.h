#pragma once
// The program's own handler of the message seam: each message in the face it
// asks for (the kiosk's large-print box, the operator's standard dialog),
// and a line in the site's log on standard error for every one.

#include "dialogs/MessageSeam.h"

namespace dialogs {

// The operator's face: a standard message dialog over the active window.
Answer showStandardMessage(const Message& m);

// Logs the message and shows it in its face. A kiosk box with OK only is
// posted (postMsgBox) and answered OK at once; one with a choice waits for
// its answer.
Answer programMessage(const Message& m);

// Installs programMessage as the program's handler.
void installProgramMessages();

// Routes the table engine's reports through the seam: each is logged at
// once and, while the operator's face is set, shown once the operation that
// failed has returned to the event loop (a modal dialog in the middle of a
// table operation would let card and timer events run table operations
// inside it). A report already waiting to be shown is not shown twice. On
// the kiosk's face they go to the log only: the kiosk tells the driver in
// its own words what could not be done.
void routeEngineErrors();

// The face the engine's reports take: the kiosk's box (the default), or the
// operator's dialog while the station shows.
void setReportFace(Face face);
Face reportFace();

}  // namespace dialogs
