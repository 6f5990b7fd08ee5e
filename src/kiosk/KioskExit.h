#pragma once
// How the program ended, as its exit status. The site's session
// (tools/site/grazulo-session) starts the kiosk again after every end but
// Ctrl+F1, so Ctrl+F1 has a status of its own. A signal that ended the kiosk
// gives 128 plus its number, as a shell reports it, though the kiosk closed
// its tables and ports first; any other end gives 0.

namespace kiosk {

inline constexpr int kExitCtrlF1 = 10;

// The status the program ends with unless a signal ends it; Ctrl+F1 sets it
// before it closes the kiosk.
inline int& exitStatus()
{
    static int status = 0;
    return status;
}

}  // namespace kiosk
