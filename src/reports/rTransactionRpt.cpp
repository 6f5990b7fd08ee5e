#include "reports/rTransactionRpt.h"

#include "data/TicketValues.h"

using reports::Align;
using reports::BandKind;
using reports::FontSpec;

namespace {

const FontSpec kHeader10Bold {QStringLiteral("Arial"), 10, true};
const FontSpec kHeader10 {QStringLiteral("Arial"), 10, false};
const FontSpec kColumn8Bold {QStringLiteral("Arial"), 8, true};
const FontSpec kDetail8 {QStringLiteral("Arial"), 8, false};

constexpr double kDateBox = 15.0;

QString qs(const std::string& s) { return QString::fromStdString(s); }

// The detail items in the order of reports::transactionLine.
const char* const kDetailNames[reports::kTransactionColumns] = {
    "txtTicketNo", "txtCustomer", "txtProduct",  "txtLicense",   "txtInDate", "txtInTime",
    "txtInWeight", "txtOutDate",  "txtOutTime",  "txtOutWeight", "txtNet"};

}  // namespace

TrptTransactionRpt::TrptTransactionRpt()
    : BandedReport(QPageSize::Letter, QPageLayout::Landscape, 12.7)
{
    const double full = printableWidth();  // 254 mm

    reports::Band& header = addBand(BandKind::kPageHeader, 27.8);
    header.text("lblTitle", 0, 2.6, full, Align::kCenter, kHeader10Bold, "VELMORE GREENHOUSE");
    header.text("lblSubtitle", 0, 9.5, full, Align::kCenter, kHeader10Bold);
    header.text("lblFrom", 96.6, 16.9, kHeader10Bold, "FROM");
    header.text("txtFromDate", 108.5, 16.9, 21.2, Align::kCenter, kHeader10Bold);
    header.text("lblTo", 130.4, 16.9, kHeader10Bold, "TO");
    header.text("txtToDate", 137.1, 16.9, 21.2, Align::kLeft, kHeader10Bold);
    header.text("lblPrinted", 2.1, 19.1, kHeader10, "Printed:");
    header.text("txtDate", 15.3, 19.1, kHeader10);
    header.text("lblPage", 232.0, 19.6, kHeader10, "Page");
    header.pageNumber("txtPage", 241.8, 19.6, std::nullopt, Align::kLeft, kHeader10);
    header.rule(0, 25.4, full, 0.8);

    reports::Band& columns = addBand(BandKind::kColumnHeader, 10.6);
    columns.text("lblInbound", 146.8, 0.3, 39.7, Align::kCenter, kColumn8Bold, "INBOUND");
    columns.text("lblOutbound", 194.5, 0.3, 39.7, Align::kCenter, kColumn8Bold, "OUTBOUND");
    columns.text("lblTicket", 0.5, 6.3, kColumn8Bold, "TICKET");
    columns.text("lblCustomer", 21.4, 6.3, kColumn8Bold, "CUSTOMER NAME");
    columns.text("lblProduct", 70.6, 6.3, kColumn8Bold, "PRODUCT");
    columns.text("lblLicense", 106.6, 6.3, kColumn8Bold, "LICENSE PLATE");
    columns.text("lblInDate", 146.8, 6.3, 10.6, Align::kCenter, kColumn8Bold, "DATE");
    columns.text("lblInTime", 159.5, 6.3, 13.2, Align::kCenter, kColumn8Bold, "TIME");
    columns.text("lblInWeight", 172.8, 6.3, 14.0, Align::kRight, kColumn8Bold, "WEIGHT");
    columns.text("lblOutDate", 195.5, 6.3, 10.6, Align::kCenter, kColumn8Bold, "DATE");
    columns.text("lblOutTime", 209.3, 6.3, 10.6, Align::kCenter, kColumn8Bold, "TIME");
    columns.text("lblOutWeight", 220.4, 6.3, 14.0, Align::kRight, kColumn8Bold, "WEIGHT");
    columns.text("lblNet", 238.4, 6.3, 13.2, Align::kRight, kColumn8Bold, "NET");

    reports::Band& detail = addBand(BandKind::kDetail, 6.3);
    detail_[0] = &detail.text(kDetailNames[0], 0.5, 2.1, 14.6, Align::kLeft, kDetail8);
    detail_[1] = &detail.text(kDetailNames[1], 21.4, 2.1, 40.2, Align::kLeft, kDetail8);
    detail_[2] = &detail.text(kDetailNames[2], 70.6, 2.1, 29.1, Align::kLeft, kDetail8);
    detail_[3] = &detail.text(kDetailNames[3], 106.6, 2.1, 29.1, Align::kLeft, kDetail8);
    // The dates are right-aligned in boxes ending at 159.8 and 206.4, wide
    // enough for mm/dd/yy.
    detail_[4] = &detail.text(kDetailNames[4], 159.8 - kDateBox, 2.1, kDateBox, Align::kRight, kDetail8);
    for (int i = 1; i <= 3; ++i)
        detail_[i]->cut = true;  // customer, product and plate: 35, 35 and 12 characters
    detail_[5] = &detail.text(kDetailNames[5], 159.5, 2.1, 13.2, Align::kCenter, kDetail8);
    detail_[6] = &detail.text(kDetailNames[6], 172.2, 2.1, 14.6, Align::kRight, kDetail8);
    detail_[7] = &detail.text(kDetailNames[7], 206.4 - kDateBox, 2.1, kDateBox, Align::kRight, kDetail8);
    detail_[8] = &detail.text(kDetailNames[8], 208.0, 2.1, 13.2, Align::kCenter, kDetail8);
    detail_[9] = &detail.text(kDetailNames[9], 219.9, 2.1, 14.6, Align::kRight, kDetail8);
    detail_[10] = &detail.text(kDetailNames[10], 238.4, 2.1, 13.2, Align::kRight, kDetail8);

    reports::Band& summary = addBand(BandKind::kSummary, 14.8);
    summary.rule(0, 4.2, full, 0.8);
    summary.textEndingAt("lblTransactions", 50.0, 7.4, kColumn8Bold, "Transactions = ");
    summary.text("txtTransactions", 55.0, 7.4, kColumn8Bold, "0");

    needData = [this] {
        bool more = false;
        QuickRepNeedData(more);
        return more;
    };
    beforePrint = [this] { feed_ = 1; };
}

void TrptTransactionRpt::setRange(const xb::Date& from, const xb::Date& to, const xb::Date& printed)
{
    fromDate = from;
    toDate = to;
    setText("txtFromDate", qs(values::mediumDateText(from)));
    setText("txtToDate", qs(values::mediumDateText(to)));
    setText("txtDate", qs(values::fullDateText(printed)));
    setText("lblSubtitle", "PONDERIX TRANSACTIONS REPORT");
}

void TrptTransactionRpt::setRows(std::vector<reports::TransactionRow> rows)
{
    rows_ = std::move(rows);
    feed_ = 1;
    setText("txtTransactions", QString::number(rows_.size()));
}

void TrptTransactionRpt::QuickRepNeedData(bool& moreData)
{
    if (feed_ > rows_.size()) {
        moreData = false;
        return;
    }
    const reports::TransactionLine line = reports::transactionLine(rows_[feed_ - 1]);
    for (int i = 0; i < reports::kTransactionColumns; ++i)
        detail_[i]->text = qs(line[std::size_t(i)]);
    ++feed_;
    moreData = true;
}
