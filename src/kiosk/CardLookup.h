#pragma once
// From a swipe card to the customer: the kiosk database directory's
// customer.dbf, whose fax_no field holds each customer's card number.

#include <optional>
#include <string>

namespace kiosk {

// The trimmed n_ame of the first live customer, in record order, whose
// fax_no is the card number, or empty text when there is none (or that
// customer's name is empty). Card number and fax_no are compared without
// their surrounding blanks and otherwise exactly: "12" does not find "1234",
// and a card longer than the fax_no field finds nobody (no record can hold
// it). An empty card number finds nobody.
//
// With the fax_no tag in customer.cdx the card is sought in the index; a
// customer.dbf without that tag (or without an index) gives the same answer
// by reading the table in record order. A card the tag does not find is
// looked for in record order too, so an index another program left behind
// its table can not turn a valid card away.
std::string LookupCustomer(const std::string& cardNumber);

// The same, telling a customer table that cannot be read (nothing) from a
// card nobody holds (empty text). A missing customer.dbf holds nobody.
std::optional<std::string> FindCardHolder(const std::string& cardNumber);

// The kiosk's customer table.
std::string kioskCustomerTablePath();

}  // namespace kiosk
