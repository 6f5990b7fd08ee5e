#include "kiosk/CardLookup.h"

#include "data/Catalogue.h"
#include "data/Paths.h"
#include "data/TicketValues.h"
#include "data/Util.h"
#include "kiosk/KioskSettings.h"

namespace kiosk {

std::string kioskCustomerTablePath() { return catalogue::kioskDatabaseDir() + "customer.dbf"; }

std::string LookupCustomer(const std::string& cardNumber)
{
    const std::string_view card = values::trim(cardNumber);
    if (card.empty())
        return {};
    const std::string path = kioskCustomerTablePath();
    if (!xb::fileExists(path))
        return {};
    KioskConnection conn;
    ScopedTable t(util::mOpen(conn.get(), path));
    if (!t)
        return {};
    xb::Field* fax = t->field("fax_no");
    xb::Field* name = t->field("n_ame");
    if (!fax || !name || card.size() > std::size_t(fax->width()))
        return {};

    if (t->selectTag("fax_no")) {
        if (util::seek(t.get(), std::string(card)) == xb::kSuccess && fax->trimmedView() == card)
            return name->text();
        t->selectTag({});
    }
    for (int r = t->top(); r == xb::kSuccess; r = t->skip(1))
        if (fax->trimmedView() == card)
            return name->text();
    return {};
}

}  // namespace kiosk
