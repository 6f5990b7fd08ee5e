#pragma once
// What every kiosk screen shares: borderless, covering the whole screen with
// or without a window manager, closed only by the program itself, and laid
// out on a design grid that grows with the screen.

#include <QLabel>
#include <QPointer>
#include <QRect>
#include <QWidget>
#include <vector>

class KioskScreen : public QWidget {
    Q_OBJECT
public:
    // Design size of the kiosk forms; a screen of any size shows them scaled
    // by the same factor in both directions, centred.
    KioskScreen(int designWidth, int designHeight, QWidget* parent = nullptr);

    // Places a child at a rectangle of the design grid, with its font at a
    // pixel size of the design; both follow the screen's size.
    void place(QWidget* w, int x, int y, int width, int height, int fontPixels = 0);
    void placeFont(QWidget* w, int fontPixels);

    // The program closes its screens through this; every other request to
    // close (Alt+F4, the window system) is refused.
    void closeByProgram();
    bool closingAllowed() const { return allowClose_; }

    double scale() const { return scale_; }

protected:
    void closeEvent(QCloseEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;

private:
    struct Placed {
        QPointer<QWidget> w;
        QRect rect;
        int fontPixels;
    };
    void relayout();
    int designW_, designH_;
    double scale_ = 1.0;
    bool allowClose_ = false;
    std::vector<Placed> placed_;
};

// A label for a value from the tables (a customer's name, a weight): its
// font is the design's, made smaller when a long value would not fit the
// label in full.
class FitLabel : public QLabel {
    Q_OBJECT
public:
    explicit FitLabel(QWidget* parent = nullptr) : QLabel(parent) {}
    // The font the text is drawn in.
    QFont fittedFont() const;

protected:
    void paintEvent(QPaintEvent* e) override;
};

// Sets the form's geometry to the whole screen's and shows it full screen:
// without a window manager showFullScreen alone leaves a small window.
void FitToScreen(QWidget* form);

// The mouse pointer: hidden on the kiosk, normal on the station. With
// GRAZULO_SHOW_POINTER set (a demonstration driven by a mouse) it stays.
void hidePointer();
void showPointer();

// A touch belongs to the screen it was made on. A touch screen that bounces,
// or a driver who touches again because the screen was slow, gives a second
// touch at the same spot a moment after the first; when a kiosk screen or
// box came or went in between, that touch would act on the next screen (a
// material under the plate screen's Enter, a key under a box's OK). Such a
// touch on a kiosk screen, within kRepeatedTouchMs of a touch at (nearly)
// the same spot on another kiosk screen or box, is taken as a repeat of it
// and ignored. Touches anywhere else, or with no screen or box shown or
// hidden between them, go through; a box always takes its touch.
// Installed once; each call (a kiosk started on a new swipe screen) forgets
// the touches before it.
constexpr int kRepeatedTouchMs = 1500;
void guardRepeatedTouches();
