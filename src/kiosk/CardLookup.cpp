#include "kiosk/CardLookup.h"

#include "data/Catalogue.h"
#include "data/Paths.h"
#include "data/TicketValues.h"
#include "data/Util.h"
#include "kiosk/KioskSettings.h"

namespace kiosk {

std::string kioskCustomerTablePath() { return catalogue::kioskDatabaseDir() + "customer.dbf"; }

std::string LookupCustomer(const std::string& cardNumber) { return FindCardHolder(cardNumber).value_or(""); }

std::optional<std::string> FindCardHolder(const std::string& cardNumber)
{
    const std::string_view card = values::trim(cardNumber);
    if (card.empty())
        return std::string();
    const std::string path = kioskCustomerTablePath();
    if (!xb::fileExists(path))
        return std::string();
    KioskConnection conn;
    ScopedTable t(util::mOpen(conn.get(), path));
    if (!t)
        return std::nullopt;
    xb::Field* fax = t->field("fax_no");
    xb::Field* name = t->field("n_ame");
    if (!fax || !name)
        return std::nullopt;
    // The card as fax_no holds it, in the table's code page: one the code
    // page cannot hold, or longer than the field, is nobody's.
    const xb::CodePage::Encoded stored = t->textCodePage().encode(card);
    if (stored.refused || stored.bytes.size() > std::size_t(fax->width()))
        return std::string();

    if (t->selectTag("fax_no")) {
        if (util::seek(t.get(), std::string(card)) == xb::kSuccess && fax->trimmedView() == stored.bytes)
            return name->text();
        t->selectTag({});
    }
    int r = t->top();
    for (; r == xb::kSuccess; r = t->skip(1))
        if (fax->trimmedView() == stored.bytes)
            return name->text();
    if (r == xb::kError)
        return std::nullopt;
    return std::string();
}

}  // namespace kiosk
