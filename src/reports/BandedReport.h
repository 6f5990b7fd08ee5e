#pragma once
// A small banded report: a page of a paper size, orientation and margins,
// and bands stacked down it. The title band prints at the top of the first
// page, the page header and the column header at the top of every page,
// one detail band per line of data, and the summary after the last line.
// Before each detail band the report asks its data callback, which fills
// the detail items and answers whether a line follows.
//
// Everything is placed in millimetres from the band's top and the printable
// area's left edge, and drawn on any paged device (a printer, the preview,
// a PDF file) at that device's resolution, so every output agrees.

#include <QFont>
#include <QPageLayout>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QPagedPaintDevice;
class QPainter;

namespace reports {

enum class Align { kLeft, kCenter, kRight };

struct FontSpec {
    QString family = QStringLiteral("Arial");
    double points = 10;
    bool bold = false;
};

// A text, a rule or the page number, placed in its band.
struct ReportItem {
    enum class Kind { kText, kRule, kPageNumber };
    Kind kind = Kind::kText;
    QString name;  // the item's name in the layout (txtTicketNo)
    double left = 0;
    double top = 0;
    // The box the text is aligned in; none: from `left` to the right edge,
    // left-aligned. A text wider than its box reaches out of it on the side
    // away from its alignment (both sides when centred), unless `cut`.
    std::optional<double> width;
    Align align = Align::kLeft;
    // Cut a text wider than its box to the characters that fit (names in a
    // column, which must not print over the next one). Numbers are never
    // cut: a number cut short is another number.
    bool cut = false;
    FontSpec font;
    QString text;
    double thickness = 0;  // rules: the height of the line; rules span `width`
};

enum class BandKind { kTitle, kPageHeader, kColumnHeader, kDetail, kSummary };

class Band {
public:
    Band(BandKind kind, double height) : kind_(kind), height_(height) {}
    BandKind kind() const { return kind_; }
    double height() const { return height_; }

    // A fixed or filled text, left-aligned from `left`.
    ReportItem& text(const QString& name, double left, double top, const FontSpec& font, const QString& text = {});
    // A text aligned in the box from `left`, `width` wide.
    ReportItem& text(const QString& name, double left, double top, double width, Align align, const FontSpec& font,
                     const QString& text = {});
    // A text right-aligned so that it ends at `right`.
    ReportItem& textEndingAt(const QString& name, double right, double top, const FontSpec& font,
                             const QString& text = {});
    ReportItem& pageNumber(const QString& name, double left, double top, std::optional<double> width, Align align,
                           const FontSpec& font);
    ReportItem& rule(double left, double top, double width, double thickness);

    const std::vector<std::unique_ptr<ReportItem>>& items() const { return items_; }
    ReportItem* item(const QString& name) const;

private:
    ReportItem& add(std::unique_ptr<ReportItem> item);
    BandKind kind_;
    double height_;
    std::vector<std::unique_ptr<ReportItem>> items_;
};

class BandedReport {
public:
    BandedReport(QPageSize::PageSizeId paper, QPageLayout::Orientation orientation, double marginMm);
    virtual ~BandedReport();
    BandedReport(const BandedReport&) = delete;
    BandedReport& operator=(const BandedReport&) = delete;

    // The paper with zero margins: the report keeps its own, so the printed
    // page and the PDF place everything from the same corner.
    QPageLayout pageLayout() const;
    double printableWidth() const;   // mm
    double printableHeight() const;  // mm
    double margin() const { return margin_; }

    Band& addBand(BandKind kind, double heightMm);
    Band* band(BandKind kind) const;
    // The item of that name in any band.
    ReportItem* item(const QString& name) const;
    ReportItem& itemNamed(const QString& name) const;  // one that must exist
    void setText(const QString& name, const QString& text) { itemNamed(name).text = text; }

    // Asked before each detail band: fills the detail items and answers
    // whether a line follows. Without one, the report has no detail lines.
    std::function<bool()> needData;
    // Called once before the first page is drawn (the report rewinds its
    // data there, so every output shows every line).
    std::function<void()> beforePrint;

    // Draws every page on a device whose painter is not begun yet; the
    // device's page layout is set to the report's. False when the device
    // cannot be painted on or a new page cannot be started.
    bool print(QPagedPaintDevice& device);
    // Draws with a painter already begun on `device` (a preview's).
    bool print(QPainter& painter, QPagedPaintDevice& device);
    // Writes the pages as a PDF file. False, with `error`, on failure.
    bool writePdf(const QString& path, QString& error);

    int pageCount() const { return pages_; }  // of the last print

private:
    struct Geometry;
    void drawBand(QPainter& p, const Geometry& g, const Band& band, double topMm) const;
    void drawItem(QPainter& p, const Geometry& g, const ReportItem& item, double bandTopMm) const;

    QPageSize::PageSizeId paper_;
    QPageLayout::Orientation orientation_;
    double margin_;
    std::vector<std::unique_ptr<Band>> bands_;
    int pages_ = 0;
    int page_ = 0;  // the page being drawn
};

// The font family a report's "Arial" is drawn in: Arial where it is
// installed, otherwise Liberation Sans, which has its metrics.
QString reportFamily(const QString& family);

}  // namespace reports
