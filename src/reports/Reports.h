#pragma once
// The reports in the program: the station's Transactions Report and the
// record window's Print of the customer and product lists.

namespace reports {

// Installs the transactions report into the station's Reports menu and the
// list printers into the record window's Print.
void installReports();

}  // namespace reports
