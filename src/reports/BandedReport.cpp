#include "reports/BandedReport.h"

#include "reports/ReportData.h"

#include <QBuffer>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QPdfWriter>

#include <map>

namespace reports {

// ---------------------------------------------------------------- bands

ReportItem& Band::add(std::unique_ptr<ReportItem> item)
{
    items_.push_back(std::move(item));
    return *items_.back();
}

ReportItem& Band::text(const QString& name, double left, double top, const FontSpec& font, const QString& text)
{
    auto i = std::make_unique<ReportItem>();
    i->name = name;
    i->left = left;
    i->top = top;
    i->font = font;
    i->text = text;
    return add(std::move(i));
}

ReportItem& Band::text(const QString& name, double left, double top, double width, Align align,
                       const FontSpec& font, const QString& text)
{
    ReportItem& i = this->text(name, left, top, font, text);
    i.width = width;
    i.align = align;
    return i;
}

ReportItem& Band::textEndingAt(const QString& name, double right, double top, const FontSpec& font,
                               const QString& text)
{
    // The box reaches back to the band's left edge: the text ends at `right`
    // whatever its length.
    return this->text(name, 0, top, right, Align::kRight, font, text);
}

ReportItem& Band::pageNumber(const QString& name, double left, double top, std::optional<double> width, Align align,
                             const FontSpec& font)
{
    ReportItem& i = this->text(name, left, top, font);
    i.kind = ReportItem::Kind::kPageNumber;
    i.width = width;
    i.align = align;
    return i;
}

ReportItem& Band::rule(double left, double top, double width, double thickness)
{
    auto i = std::make_unique<ReportItem>();
    i->kind = ReportItem::Kind::kRule;
    i->left = left;
    i->top = top;
    i->width = width;
    i->thickness = thickness;
    return add(std::move(i));
}

ReportItem* Band::item(const QString& name) const
{
    for (const auto& i : items_)
        if (i->name == name)
            return i.get();
    return nullptr;
}

// ---------------------------------------------------------------- report

QString reportFamily(const QString& family)
{
    static std::map<QString, QString> chosen;
    auto it = chosen.find(family);
    if (it != chosen.end())
        return it->second;
    QString use = family;
    if (family.compare(QLatin1String("Arial"), Qt::CaseInsensitive) == 0 && !QFontDatabase::hasFamily(family) &&
        QFontDatabase::hasFamily(QStringLiteral("Liberation Sans")))
        use = QStringLiteral("Liberation Sans");
    chosen.emplace(family, use);
    return use;
}

BandedReport::BandedReport(QPageSize::PageSizeId paper, QPageLayout::Orientation orientation, double marginMm)
    : paper_(paper), orientation_(orientation), margin_(marginMm)
{
}

BandedReport::~BandedReport() = default;

QPageLayout BandedReport::pageLayout() const
{
    QPageLayout layout(QPageSize(paper_), orientation_, QMarginsF(0, 0, 0, 0), QPageLayout::Millimeter);
    layout.setMode(QPageLayout::FullPageMode);
    return layout;
}

double BandedReport::printableWidth() const
{
    return pageLayout().fullRect(QPageLayout::Millimeter).width() - 2 * margin_;
}

double BandedReport::printableHeight() const
{
    return pageLayout().fullRect(QPageLayout::Millimeter).height() - 2 * margin_;
}

Band& BandedReport::addBand(BandKind kind, double heightMm)
{
    bands_.push_back(std::make_unique<Band>(kind, heightMm));
    return *bands_.back();
}

Band* BandedReport::band(BandKind kind) const
{
    for (const auto& b : bands_)
        if (b->kind() == kind)
            return b.get();
    return nullptr;
}

ReportItem* BandedReport::item(const QString& name) const
{
    for (const auto& b : bands_)
        if (ReportItem* i = b->item(name))
            return i;
    return nullptr;
}

ReportItem& BandedReport::itemNamed(const QString& name) const
{
    ReportItem* i = item(name);
    Q_ASSERT_X(i, "BandedReport::itemNamed", qPrintable(name));
    return *i;
}

// Millimetres on the device, and the fonts at its resolution.
struct BandedReport::Geometry {
    QPaintDevice* device = nullptr;
    double dotsPerMmX = 1;
    double dotsPerMmY = 1;
    double originX = 0;  // where the painter's origin lies on the paper, mm
    double originY = 0;

    struct Font {
        QFont font;
        QFontMetricsF metrics;
    };
    mutable std::map<std::tuple<QString, double, bool>, Font> fonts;
    mutable const QFont* current = nullptr;

    double x(double mm) const { return (mm - originX) * dotsPerMmX; }
    double y(double mm) const { return (mm - originY) * dotsPerMmY; }

    const Font& font(const FontSpec& s) const
    {
        const auto key = std::make_tuple(s.family, s.points, s.bold);
        auto it = fonts.find(key);
        if (it == fonts.end()) {
            QFont f(reportFamily(s.family));
            f.setPointSizeF(s.points);
            f.setBold(s.bold);
            f.setKerning(false);
            f.setStyleStrategy(QFont::ForceOutline);
            f = QFont(f, device);
            it = fonts.emplace(key, Font {f, QFontMetricsF(f, device)}).first;
        }
        return it->second;
    }
};

void BandedReport::drawItem(QPainter& p, const Geometry& g, const ReportItem& item, double bandTopMm) const
{
    const double left = margin_ + item.left;
    const double top = bandTopMm + item.top;
    if (item.kind == ReportItem::Kind::kRule) {
        const double w = item.width.value_or(printableWidth() - item.left);
        p.fillRect(QRectF(g.x(left), g.y(top), w * g.dotsPerMmX, item.thickness * g.dotsPerMmY), Qt::black);
        return;
    }
    QString text = item.kind == ReportItem::Kind::kPageNumber ? QString::number(page_) : item.text;
    if (text.isEmpty())
        return;
    const Geometry::Font& f = g.font(item.font);
    const double boxWidth = item.width.value_or(printableWidth() - item.left) * g.dotsPerMmX;
    double advance = f.metrics.horizontalAdvance(text);
    if (item.cut && advance > boxWidth) {
        int lo = 0, hi = int(text.size());
        while (lo < hi) {
            const int mid = (lo + hi + 1) / 2;
            if (f.metrics.horizontalAdvance(text.left(mid)) <= boxWidth)
                lo = mid;
            else
                hi = mid - 1;
        }
        text.truncate(lo);
        advance = f.metrics.horizontalAdvance(text);
    }
    double x = g.x(left);
    if (item.align == Align::kCenter)
        x += (boxWidth - advance) / 2;
    else if (item.align == Align::kRight)
        x += boxWidth - advance;
    if (g.current != &f.font) {
        p.setFont(f.font);
        g.current = &f.font;
    }
    p.drawText(QPointF(x, g.y(top) + f.metrics.ascent()), text);
}

void BandedReport::drawBand(QPainter& p, const Geometry& g, const Band& band, double topMm) const
{
    for (const auto& i : band.items())
        drawItem(p, g, *i, topMm);
}

bool BandedReport::print(QPagedPaintDevice& device)
{
    device.setPageLayout(pageLayout());
    QPainter p;
    if (!p.begin(&device))
        return false;
    const bool ok = print(p, device);
    return p.end() && ok;
}

bool BandedReport::print(QPainter& p, QPagedPaintDevice& device)
{
    Geometry g;
    g.device = p.device();
    g.dotsPerMmX = g.device->logicalDpiX() / 25.4;
    g.dotsPerMmY = g.device->logicalDpiY() / 25.4;
    const QPageLayout actual = device.pageLayout();
    if (actual.mode() != QPageLayout::FullPageMode) {
        const QMarginsF m = actual.margins(QPageLayout::Millimeter);
        g.originX = m.left();
        g.originY = m.top();
    }
    p.setPen(Qt::black);

    if (beforePrint)
        beforePrint();
    const Band* title = band(BandKind::kTitle);
    const Band* pageHeader = band(BandKind::kPageHeader);
    const Band* columnHeader = band(BandKind::kColumnHeader);
    const Band* detail = band(BandKind::kDetail);
    const Band* summary = band(BandKind::kSummary);
    const double bottom = margin_ + printableHeight() + 1e-6;

    double y = margin_;
    page_ = 0;
    pages_ = 0;
    bool freshPage = false;
    auto startPage = [&]() -> bool {
        if (page_ > 0 && !device.newPage())
            return false;
        ++page_;
        pages_ = page_;
        g.current = nullptr;
        y = margin_;
        for (const Band* b : {page_ == 1 ? title : nullptr, pageHeader, columnHeader}) {
            if (!b)
                continue;
            drawBand(p, g, *b, y);
            y += b->height();
        }
        freshPage = true;
        return true;
    };
    auto place = [&](const Band& b) -> bool {
        // A band too tall for a fresh page is drawn there anyway, over the
        // bottom margin, rather than starting page after page.
        if (y + b.height() > bottom && !freshPage && !startPage())
            return false;
        drawBand(p, g, b, y);
        y += b.height();
        freshPage = false;
        return true;
    };

    if (!startPage())
        return false;
    if (detail && needData) {
        while (needData())
            if (!place(*detail))
                return false;
    }
    if (summary && !place(*summary))
        return false;
    return true;
}

bool BandedReport::writePdf(const QString& path, QString& error)
{
    // Drawn whole first, then written as the CSV is (see writeFile).
    QByteArray pdf;
    {
        QBuffer buffer(&pdf);
        buffer.open(QIODevice::WriteOnly);
        QPdfWriter writer(&buffer);
        writer.setResolution(1200);
        writer.setCreator(QStringLiteral("grazulo"));
        if (!print(writer)) {
            error = path + ": the pages could not be drawn";
            return false;
        }
    }
    std::string why;
    if (!writeFile(path.toStdString(), std::string_view(pdf.constData(), std::size_t(pdf.size())), why)) {
        error = QString::fromStdString(why);
        return false;
    }
    return true;
}

}  // namespace reports
