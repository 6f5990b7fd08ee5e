#pragma once
// The one transaction in progress, shared by the kiosk screens, the kiosk's
// ticket store, the ticket printout and the station's Print.

#include "data/Clock.h"

#include <string>

namespace kiosk {

struct Ticket {
    std::string customer;  // customer name from the card lookup
    long ticket = -1;      // ticket number
    std::string product;   // material name
    std::string in_time;   // time of the first weighing as stored (hhmm digits, or as the station shows it)
    std::string in_date;   // date of the first weighing as stored (yyyymmdd, or mm/dd/yyyy from the station)
    xb::LocalTime out_time {};  // time of the second weighing; all zero when none
    xb::LocalTime out_date {};  // date of the second weighing; all zero when none
    std::string in_wgt;    // first weight (kg), as received or typed
    std::string out_wgt;   // second weight (kg)
    std::string net_wgt;   // net weight (kg)
    std::string truck;     // licence plate
};

// The program's one CurrentTicket.
Ticket& CurrentTicket();

// Resets CurrentTicket: texts empty, ticket -1, out_time and out_date zero.
void ClearTicket();

}  // namespace kiosk
