#pragma once
// What a reader of the large-print box would notice, as a list of faults
// (empty when none): the caption not shown inside the box, a line cut off or
// running over another control, the box larger than the screen, and for a
// message that fits the box's design sizes, the box not at those sizes.
// Shared by the box's test and its check on a real X server.

#include "dialogs/fMsgBox.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QStringList>

#include <algorithm>

namespace msgboxcheck {

// Text as shown, without the breaks the box put in to make it fit.
inline QString unbroken(QString s) { return s.remove(QChar('\n')).remove(QChar(' ')); }

inline QStringList faults(TfrmMsgBox* box, const dialogs::Message& m, bool fitsDesign)
{
    QStringList out;
    const QRect whole(QPoint(0, 0), box->size());
    const double scale = std::max(1.0, QGuiApplication::primaryScreen()->geometry().width() / 1024.0);
    auto px = [scale](int v) { return int(v * scale + 0.5); };

    auto* caption = box->findChild<QLabel*>("lblCaption");
    if (!caption || !caption->isVisibleTo(box)) {
        out << "no caption inside the box";
    } else {
        if (caption->text() != QString::fromStdString(m.caption))
            out << QString("caption shows \"%1\"").arg(caption->text());
        if (caption->geometry().bottom() >= box->txtMessage1->geometry().top())
            out << "caption bar is not above the first line";
        if (caption->accessibleName() != caption->text())
            out << "caption bar has no accessible name";
    }

    const QList<QLabel*> lines {box->txtMessage1, box->txtMessage2};
    const QStringList wanted {QString::fromStdString(m.line1), QString::fromStdString(m.line2)};
    for (int i = 0; i < 2; ++i) {
        QLabel* l = lines[i];
        if (unbroken(l->text()) != unbroken(wanted[i]))
            out << QString("%1 shows \"%2\"").arg(l->objectName(), l->text());
        if (l->accessibleName() != wanted[i])
            out << QString("%1 has accessible name \"%2\"").arg(l->objectName(), l->accessibleName());
    }

    QList<QWidget*> shown;
    for (QWidget* w : box->findChildren<QWidget*>())
        if (w->isVisibleTo(box) && w->objectName() != "frmBorder")
            shown << w;
    for (QWidget* w : shown) {
        if (!whole.contains(w->geometry()))
            out << QString("%1 lies partly outside the box").arg(w->objectName());
        if (auto* l = qobject_cast<QLabel*>(w); l && !l->text().isEmpty()) {
            const QRect r = l->contentsRect();
            const QRect need = QFontMetrics(l->font()).boundingRect(r, int(l->alignment()), l->text());
            if (need.width() > r.width() || need.height() > r.height())
                out << QString("text of %1 needs %2x%3, has %4x%5")
                           .arg(l->objectName())
                           .arg(need.width())
                           .arg(need.height())
                           .arg(r.width())
                           .arg(r.height());
        }
        if (auto* b = qobject_cast<QPushButton*>(w); b && b->accessibleName() != b->text())
            out << QString("%1 has no accessible name").arg(b->objectName());
    }
    // The text of one control never runs into another.
    for (int a = 0; a < shown.size(); ++a)
        for (int b = a + 1; b < shown.size(); ++b) {
            auto textRect = [](QWidget* w) {
                auto* l = qobject_cast<QLabel*>(w);
                if (!l || l->text().isEmpty())
                    return w->geometry();
                const QRect need = QFontMetrics(l->font()).boundingRect(l->contentsRect(), int(l->alignment()), l->text());
                return need.translated(l->pos());
            };
            if (textRect(shown[a]).intersects(textRect(shown[b])))
                out << QString("%1 and %2 overlap").arg(shown[a]->objectName(), shown[b]->objectName());
        }

    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    const int design = (m.buttons & (dialogs::kNo | dialogs::kCancel)) ? px(1000) : px(600);
    if (box->width() > std::max(design, screen.width()) || box->height() > screen.height())
        out << QString("the box is %1x%2 on a screen of %3x%4")
                   .arg(box->width())
                   .arg(box->height())
                   .arg(screen.width())
                   .arg(screen.height());
    if (box->isVisible() && box->width() <= screen.width() && !screen.contains(box->frameGeometry()))
        out << "the box lies partly off the screen";

    if (fitsDesign && caption) {
        const int bar = caption->geometry().bottom() + 1;
        if (box->width() != design || box->height() != bar + px(209))
            out << QString("the box is %1x%2, its design %3x%4")
                       .arg(box->width())
                       .arg(box->height())
                       .arg(design)
                       .arg(bar + px(209));
        if (box->txtMessage1->pos() != QPoint(px(96), bar + px(32)) ||
            box->txtMessage2->geometry() != QRect(px(96), bar + px(80), px(500), px(36)) ||
            box->cmdOK->geometry() != QRect(px(192), bar + px(128), px(289), px(57)))
            out << "the lines or the buttons are not where the design puts them";
    }
    return out;
}

}  // namespace msgboxcheck
