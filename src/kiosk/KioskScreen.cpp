#include "kiosk/KioskScreen.h"

#include <QApplication>
#include <QCloseEvent>
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

void FitToScreen(QWidget* form)
{
    QScreen* screen = form->screen() ? form->screen() : QGuiApplication::primaryScreen();
    if (screen)
        form->setGeometry(screen->geometry());
    form->showFullScreen();
}

void hidePointer()
{
    if (!QApplication::overrideCursor() || QApplication::overrideCursor()->shape() != Qt::BlankCursor)
        QApplication::setOverrideCursor(Qt::BlankCursor);
}

void showPointer()
{
    while (QApplication::overrideCursor())
        QApplication::restoreOverrideCursor();
}
