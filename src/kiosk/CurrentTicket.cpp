#include "kiosk/CurrentTicket.h"

namespace kiosk {

Ticket& CurrentTicket()
{
    static Ticket t;
    return t;
}

void ClearTicket() { CurrentTicket() = Ticket {}; }

}  // namespace kiosk
