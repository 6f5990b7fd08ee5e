#include "reports/ListReport.h"

namespace reports {

namespace {

const FontSpec kTitle {QStringLiteral("Arial"), 12, true};
const FontSpec kPlain {QStringLiteral("Arial"), 10, false};
const FontSpec kBold {QStringLiteral("Arial"), 10, true};

}  // namespace

ListReport::ListReport(ListKind kind, double pageTop, const Column (&columns)[kListColumns])
    : BandedReport(QPageSize::Letter, QPageLayout::Portrait, 12.7)
{
    const double full = printableWidth();  // 190.5 mm

    Band& title = addBand(BandKind::kTitle, 17.2);
    title.text("lblTitle", 0, 4.2, full, Align::kCenter, kTitle, QString::fromStdString(listTitle(kind)));
    title.text("lblPage", 168.0, pageTop, kPlain, "Page");
    title.pageNumber("txtPage", 177.3, pageTop, 12.2, Align::kCenter, kPlain);
    title.rule(0, 14.8, full, 0.8);

    Band& headings = addBand(BandKind::kColumnHeader, 8.2);
    const ListLine& names = listHeadings(kind);
    for (int i = 0; i < kListColumns; ++i)
        headings.text(QStringLiteral("lbl%1").arg(i + 1), columns[i].headingLeft, 4.2, kBold,
                      QString::fromStdString(names[std::size_t(i)]));

    Band& detail = addBand(BandKind::kDetail, 6.1);
    for (int i = 0; i < kListColumns; ++i) {
        detail_[i] = &detail.text(columns[i].valueName, columns[i].left, 2.1, columns[i].width, columns[i].align, kPlain);
        detail_[i]->cut = columns[i].align == Align::kLeft;  // the names; numbers stand right-aligned
    }

    needData = [this] {
        bool more = false;
        QuickRepNeedData(more);
        return more;
    };
    beforePrint = [this] { next_ = 0; };
}

void ListReport::setRows(std::vector<ListLine> rows)
{
    rows_ = std::move(rows);
    next_ = 0;
}

void ListReport::QuickRepNeedData(bool& moreData)
{
    moreData = next_ < rows_.size();
    if (!moreData)
        return;
    for (int i = 0; i < kListColumns; ++i)
        detail_[i]->text = QString::fromStdString(rows_[next_][std::size_t(i)]);
    ++next_;
}

}  // namespace reports
