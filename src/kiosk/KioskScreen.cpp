#include "kiosk/KioskScreen.h"

#include "dialogs/fMsgBox.h"

#include <QApplication>
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QFontMetrics>
#include <QPainter>
#include <QScreen>

KioskScreen::KioskScreen(int designWidth, int designHeight, QWidget* parent)
    : QWidget(parent), designW_(designWidth), designH_(designHeight)
{
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    setAutoFillBackground(true);
    resize(designWidth, designHeight);
}

void KioskScreen::place(QWidget* w, int x, int y, int width, int height, int fontPixels)
{
    placed_.push_back({w, QRect(x, y, width, height), fontPixels});
    relayout();
}

void KioskScreen::placeFont(QWidget* w, int fontPixels)
{
    for (auto& p : placed_)
        if (p.w == w)
            p.fontPixels = fontPixels;
    relayout();
}

void KioskScreen::closeByProgram()
{
    allowClose_ = true;
    close();
    allowClose_ = false;
}

void KioskScreen::closeEvent(QCloseEvent* e)
{
    if (allowClose_)
        e->accept();
    else
        e->ignore();
}

void KioskScreen::resizeEvent(QResizeEvent* e)
{
    QWidget::resizeEvent(e);
    relayout();
}

void KioskScreen::relayout()
{
    scale_ = std::min(width() / double(designW_), height() / double(designH_));
    if (scale_ <= 0)
        scale_ = 1.0;
    const int offX = int((width() - designW_ * scale_) / 2);
    const int offY = int((height() - designH_ * scale_) / 2);
    for (auto& p : placed_) {
        if (!p.w)
            continue;
        p.w->setGeometry(offX + int(p.rect.x() * scale_), offY + int(p.rect.y() * scale_),
                         int(p.rect.width() * scale_ + 0.5), int(p.rect.height() * scale_ + 0.5));
        if (p.fontPixels > 0) {
            QFont f = p.w->font();
            f.setPixelSize(std::max(8, int(p.fontPixels * scale_ + 0.5)));
            p.w->setFont(f);
        }
    }
}

QFont FitLabel::fittedFont() const
{
    QFont f = font();
    const QRect area = contentsRect();
    if (text().isEmpty() || f.pixelSize() <= 0)
        return f;
    const int flags = int(alignment()) | (wordWrap() ? int(Qt::TextWordWrap) : 0);
    auto fits = [&](const QFont& font) {
        const QRect need = QFontMetrics(font).boundingRect(area, flags, text());
        return need.width() <= area.width() && need.height() <= area.height();
    };
    while (f.pixelSize() > 8 && !fits(f))
        f.setPixelSize(f.pixelSize() - 1);
    return f;
}

void FitLabel::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setFont(fittedFont());
    p.setPen(palette().color(foregroundRole()));
    const int flags = int(alignment()) | (wordWrap() ? int(Qt::TextWordWrap) : 0);
    p.drawText(contentsRect(), flags, text());
}

void FitToScreen(QWidget* form)
{
    QScreen* screen = form->screen() ? form->screen() : QGuiApplication::primaryScreen();
    if (screen)
        form->setGeometry(screen->geometry());
    form->showFullScreen();
}

void hidePointer()
{
    // A demonstration with a mouse instead of a touch screen keeps it.
    if (qEnvironmentVariableIsSet("GRAZULO_SHOW_POINTER"))
        return;
    if (!QApplication::overrideCursor() || QApplication::overrideCursor()->shape() != Qt::BlankCursor)
        QApplication::setOverrideCursor(Qt::BlankCursor);
}

void showPointer()
{
    while (QApplication::overrideCursor())
        QApplication::restoreOverrideCursor();
}

namespace {
bool isKioskWindow(const QObject* o)
{
    return qobject_cast<const KioskScreen*>(o) || qobject_cast<const TfrmMsgBox*>(o);
}

class TouchGuard : public QObject {
public:
    void forget()
    {
        since_.invalidate();
        ignoringRelease_ = false;
    }

protected:
    bool eventFilter(QObject* o, QEvent* e) override
    {
        switch (e->type()) {
        case QEvent::Show:
        case QEvent::Hide:
            if (o->isWidgetType() && static_cast<QWidget*>(o)->isWindow() && isKioskWindow(o))
                ++changes_;
            return false;
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick: {
            QWidget* window = o->isWidgetType() ? static_cast<QWidget*>(o)->window() : nullptr;
            if (!window || !isKioskWindow(window))
                return false;
            const QPoint at = static_cast<QMouseEvent*>(e)->globalPosition().toPoint();
            // The same press passed on to a parent is judged the same way:
            // what is kept below changes only for a touch that goes through.
            // A box is always answered: one waiting its turn shows where the
            // one answered was, and is touched there.
            const bool repeat = qobject_cast<KioskScreen*>(window) && changes_ != changesAtTouch_ && since_.isValid() &&
                                since_.elapsed() < kRepeatedTouchMs &&
                                (at - touchedAt_).manhattanLength() <= kSameSpot;
            ignoringRelease_ = repeat;
            if (!repeat) {
                touchedAt_ = at;
                changesAtTouch_ = changes_;
                since_.start();
            }
            return repeat;
        }
        case QEvent::MouseButtonRelease:
            if (ignoringRelease_) {
                ignoringRelease_ = false;
                return true;
            }
            return false;
        default: return false;
        }
    }

private:
    static constexpr int kSameSpot = 32;  // pixels, a finger's width
    unsigned changes_ = 0;          // kiosk screens and boxes shown or hidden
    unsigned changesAtTouch_ = 0;   // the count when the last touch went through
    QPoint touchedAt_;
    QElapsedTimer since_;
    bool ignoringRelease_ = false;  // the press was ignored: its release is too
};
}  // namespace

void guardRepeatedTouches()
{
    static TouchGuard* guard = nullptr;
    if (!guard && QCoreApplication::instance()) {
        guard = new TouchGuard;
        QCoreApplication::instance()->installEventFilter(guard);
    }
    if (guard)
        guard->forget();
}
