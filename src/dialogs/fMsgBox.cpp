#include "dialogs/fMsgBox.h"

#include "dialogs/WindowFocus.h"

#include "data/Catalogue.h"
#include "data/Paths.h"

#include <QApplication>
#include <QFile>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QBitmap>
#include <QPixmap>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QTextLayout>
#include <QTimer>

#include <algorithm>
#include <deque>

namespace {
// The box is designed at 992 by 209 for a 1024-pixel-wide screen; on larger
// screens everything grows in proportion.
double screenScale()
{
    QScreen* s = QGuiApplication::primaryScreen();
    if (!s)
        return 1.0;
    return std::max(1.0, s->geometry().width() / 1024.0);
}

// Where the box may lie: the screen less what panels take.
QRect screenArea()
{
    QScreen* s = QGuiApplication::primaryScreen();
    return s ? s->availableGeometry() : QRect(0, 0, 1024, 768);
}

// Design sizes of the box beyond those of its controls.
constexpr int kCaptionBar = 40;  // height of the caption bar, above the design area
constexpr int kCaptionFont = 24;
constexpr int kTextLeft = 96;    // where the lines start
constexpr int kTextRight = 24;   // room kept right of the longest line
constexpr int kScreenMargin = 16;  // room kept on each side when the box grows

QString rightTrimmed(QString s)
{
    while (!s.isEmpty() && s.back().isSpace())
        s.chop(1);
    return s;
}

// The text broken into lines no wider than `width` in the label's font: at
// blanks where it can, inside a word (a device path, say) where it must. A
// line break in the text ("\r", "\n" or both) is kept.
QStringList breakLines(const QString& text, const QLabel* label, int width)
{
    QString plain = text;
    plain.replace("\r\n", "\n").replace('\r', '\n');
    const QFontMetrics fm(label->font());
    QStringList lines;
    for (const QString& paragraph : plain.split('\n')) {
        // Measured as the box measures it when it sizes itself: a line the
        // box was made wide enough for stays whole.
        if (fm.horizontalAdvance(paragraph) <= width) {
            lines << paragraph;
            continue;
        }
        QTextLayout layout(paragraph, label->font(), const_cast<QLabel*>(label));
        QTextOption option;
        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        layout.setTextOption(option);
        layout.beginLayout();
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(width);
            lines << rightTrimmed(paragraph.mid(line.textStart(), line.textLength()));
        }
        layout.endLayout();
    }
    return lines;
}

// The width of the widest line of the text in the label's font.
int textWidth(const QString& text, const QLabel* label)
{
    QString plain = text;
    plain.replace("\r\n", "\n").replace('\r', '\n');
    const QFontMetrics fm(label->font());
    int widest = 0;
    for (const QString& line : plain.split('\n'))
        widest = std::max(widest, fm.horizontalAdvance(line));
    return widest;
}

QString kindName(int kind)
{
    switch (kind) {
    case dialogs::kWarning: return "Warning";
    case dialogs::kError: return "Error";
    case dialogs::kInformation: return "Information";
    case dialogs::kConfirmation: return "Confirmation";
    default: return {};
    }
}
}  // namespace

int TfrmMsgBox::px(int v) const { return int(v * scale_ + 0.5); }

TfrmMsgBox::TfrmMsgBox(QWidget* parent) : QDialog(parent)
{
    setObjectName("TfrmMsgBox");
    setModal(true);
    scale_ = screenScale();
    QFont font("Arial");
    font.setPixelSize(px(27));
    setFont(font);

    // The kiosk runs without a window manager, so the box gets no title bar
    // or border from it: a caption bar and a frame of its own and a white
    // ground set it off from the screen behind it.
    QPalette ground = palette();
    ground.setColor(QPalette::Window, Qt::white);
    setPalette(ground);
    setAutoFillBackground(true);

    lblCaption = new QLabel(this);
    lblCaption->setObjectName("lblCaption");
    QPalette bar = lblCaption->palette();
    bar.setColor(QPalette::Window, QColor(0, 0, 128));
    bar.setColor(QPalette::WindowText, Qt::white);
    lblCaption->setPalette(bar);
    lblCaption->setAutoFillBackground(true);
    QFont captionFont = font;
    captionFont.setPixelSize(px(kCaptionFont));
    captionFont.setBold(true);
    lblCaption->setFont(captionFont);
    lblCaption->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    lblCaption->setIndent(px(12));

    imgSign = new QLabel(this);
    imgSign->setObjectName("imgSign");
    imgSign->setAttribute(Qt::WA_TranslucentBackground);
    imgSign->setAlignment(Qt::AlignCenter);

    txtMessage1 = new QLabel(this);
    txtMessage1->setObjectName("txtMessage1");

    txtMessage2 = new QLabel(this);
    txtMessage2->setObjectName("txtMessage2");

    cmdOK = new QPushButton("OK", this);
    cmdOK->setObjectName("cmdOK");
    cmdOK->setDefault(true);
    connect(cmdOK, &QPushButton::clicked, this, [this] { done(1); });

    cmdCancel = new QPushButton("Cancel", this);
    cmdCancel->setObjectName("cmdCancel");
    cmdCancel->hide();
    connect(cmdCancel, &QPushButton::clicked, this, [this] { done(2); });

    // Drawn over the caption bar's edge as over everything else.
    auto* border = new QFrame(this);
    border->setObjectName("frmBorder");
    border->setFrameStyle(QFrame::Box | QFrame::Plain);
    border->setLineWidth(std::max(2, px(3)));
    border->setAttribute(Qt::WA_TransparentForMouseEvents);

    setTabOrder(cmdOK, cmdCancel);
    cmdOK->setFocus();
    arrange(992);
}

QString TfrmMsgBox::pictureFile(int kind)
{
    switch (kind) {
    case dialogs::kWarning:
    case dialogs::kInformation: return "warning.bmp";
    case dialogs::kError: return "error.bmp";
    case dialogs::kConfirmation: return "question.bmp";
    default: return {};
    }
}

void TfrmMsgBox::setMessage(const dialogs::Message& m)
{
    const QString caption = QString::fromStdString(m.caption);
    const QString line1 = QString::fromStdString(m.line1);
    const QString line2 = QString::fromStdString(m.line2);
    message_ = m;
    setWindowTitle(caption);
    setAccessibleName(caption);
    lblCaption->setText(caption);
    lblCaption->setAccessibleName(caption);
    line1_ = line1;
    line2_ = line2;
    txtMessage1->setAccessibleName(line1);
    txtMessage2->setAccessibleName(line2);

    // A missing or unreadable picture shows no picture and no error.
    imgSign->clear();
    imgSign->setAccessibleName(kindName(m.kind));
    QString file = pictureFile(m.kind);
    if (!file.isEmpty()) {
        QString path = QString::fromStdString(xb::resolvePath(catalogue::programDir() + file.toStdString()));
        QPixmap pic;
        if (QFile::exists(path) && pic.load(path)) {
            // Transparent: the colour of the bottom-left pixel is the ground.
            const QColor ground = pic.toImage().pixelColor(0, pic.height() - 1);
            pic.setMask(pic.createMaskFromColor(ground, Qt::MaskInColor));
            imgSign->setPixmap(pic.scaled(QSize(px(65), px(65)), Qt::KeepAspectRatio, Qt::SmoothTransformation));
        }
    }

    if (m.buttons & dialogs::kYes)
        cmdOK->setText("Yes");
    else if (m.buttons & dialogs::kOk)
        cmdOK->setText("OK");
    cmdOK->setAccessibleName(cmdOK->text());

    int width = 600;
    if (m.buttons & dialogs::kNo) {
        width = 1000;
        cmdCancel->setText("No");
        cmdCancel->show();
    } else if (m.buttons & dialogs::kCancel) {
        width = 1000;
        cmdCancel->setText("Cancel");
        cmdCancel->show();
    } else {
        cmdCancel->hide();
    }
    cmdCancel->setAccessibleName(cmdCancel->text());
    arrange(width);
}

void TfrmMsgBox::arrange(int designWidth)
{
    const int bar = px(kCaptionBar);
    const int left = px(kTextLeft);
    const int right = px(kTextRight);
    const int design = px(designWidth);
    const int line2Design = px(500);
    const QRect area = screenArea();
    const int widest = std::max(design, area.width() - 2 * px(kScreenMargin));

    // As wide as the design, or as the caption and the lines need.
    const int caption = textWidth(lblCaption->text(), lblCaption) + 2 * lblCaption->indent() + px(8);
    const int need1 = left + textWidth(line1_, txtMessage1) + right;
    const int width2 = textWidth(line2_, txtMessage2);
    const int need2 = width2 <= line2Design ? 0 : left + width2 + right;
    const int width = std::clamp(std::max({design, caption, need1, need2}), design, widest);

    // Lines still too wide are broken; each further line moves what is below.
    const int room1 = width - left - right;
    const int room2 = width2 <= line2Design ? line2Design : std::max(line2Design, room1);
    const QStringList lines1 = breakLines(line1_, txtMessage1, room1);
    const QStringList lines2 = breakLines(line2_, txtMessage2, room2);
    const int spacing = QFontMetrics(txtMessage1->font()).lineSpacing();
    const int more1 = spacing * std::max<int>(0, int(lines1.size()) - 1);
    const int more2 = spacing * std::max<int>(0, int(lines2.size()) - 1);

    txtMessage1->setText(lines1.join('\n'));
    txtMessage1->move(left, bar + px(32));
    txtMessage1->adjustSize();  // sized to its text
    txtMessage2->setText(lines2.join('\n'));
    txtMessage2->setGeometry(left, bar + px(80) + more1, room2, px(36) + more2);
    imgSign->setGeometry(px(8), bar + px(32), px(65), px(65));

    // The buttons keep their places in the design, centred as it grows.
    const int shift = (width - design) / 2;
    const int buttons = bar + px(128) + more1 + more2;
    cmdOK->setGeometry(px(192) + shift, buttons, px(289), px(57));
    cmdCancel->setGeometry(px(496) + shift, buttons, px(289), px(57));

    setFixedSize(width, bar + px(209) + more1 + more2);
    lblCaption->setGeometry(0, 0, width, bar);
    if (auto* border = findChild<QFrame*>("frmBorder")) {
        border->setGeometry(rect());
        border->raise();
    }
}

namespace dialogs {

namespace {

bool isKioskBox(const QObject* o) { return qobject_cast<const TfrmMsgBox*>(o) != nullptr; }

// A key a keyboard-type card reader types: a character, or the Enter that
// ends the card.
bool isCardKey(const QKeyEvent& k)
{
    if (k.modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
        return false;
    if (k.key() == Qt::Key_Return || k.key() == Qt::Key_Enter)
        return true;
    return !k.text().isEmpty() && k.text().front().isPrint();
}

// Centred over the window beneath, or the screen, and on the screen.
void placeOver(TfrmMsgBox& box, const QWidget* over)
{
    const QRect area = screenArea();
    const QRect beneath = over ? over->frameGeometry() : area;
    QPoint at = beneath.center() - QPoint(box.width() / 2, box.height() / 2);
    at.setX(std::clamp(at.x(), area.left(), std::max(area.left(), area.right() + 1 - box.width())));
    at.setY(std::clamp(at.y(), area.top(), std::max(area.top(), area.bottom() + 1 - box.height())));
    box.move(at);
}

// The window a box is shown over: the active one, unless it is a box.
QWidget* windowBeneath()
{
    QWidget* w = QApplication::activeWindow();
    return w && !isKioskBox(w) ? w : nullptr;
}

bool sameMessage(const Message& a, const Message& b)
{
    return a.caption == b.caption && a.line1 == b.line1 && a.line2 == b.line2 && a.kind == b.kind &&
           a.buttons == b.buttons;
}

// The kiosk's boxes: the one showing without waiting for it, those waiting
// their turn, and the watch that keeps the box taking input on top.
class Boxes : public QObject {
public:
    QPointer<TfrmMsgBox> showing;
    QPointer<QWidget> cardKeys;  // where a card reader's keys go while a box shows
    std::deque<Message> waiting;
    QPointer<QWidget> beneath;
    int answering = 0;  // boxes of answerInMsgBox showing
    bool raiseScheduled = false;

    void watch()
    {
        if (!watching_ && QCoreApplication::instance()) {
            QCoreApplication::instance()->installEventFilter(this);
            watching_ = true;
        }
    }

protected:
    // Any other window shown or activated while a box takes input would
    // cover it (no window manager keeps a dialog above its window): the box
    // goes back on top once that window is up.
    bool eventFilter(QObject* o, QEvent* e) override
    {
        if ((e->type() == QEvent::KeyPress || e->type() == QEvent::KeyRelease) && o->isWidgetType() &&
            isKioskBox(static_cast<QWidget*>(o)->window()) && isCardKey(*static_cast<QKeyEvent*>(e))) {
            // Not an answer: a card, for the swipe screen when it shows.
            if (cardKeys && cardKeys->isVisible()) {
                const auto* k = static_cast<QKeyEvent*>(e);
                QKeyEvent copy(k->type(), k->key(), k->modifiers(), k->text(), k->isAutoRepeat(), k->count());
                QCoreApplication::sendEvent(cardKeys, &copy);
            }
            return true;
        }
        if ((e->type() == QEvent::Show || e->type() == QEvent::WindowActivate) && o->isWidgetType() &&
            static_cast<QWidget*>(o)->isWindow() && !isKioskBox(o) && !raiseScheduled &&
            (showing || answering > 0)) {
            raiseScheduled = true;
            QTimer::singleShot(0, this, [this] {
                raiseScheduled = false;
                keepMsgBoxOnTop();
            });
        }
        return false;
    }

private:
    bool watching_ = false;
};

Boxes& boxes()
{
    static Boxes* b = new Boxes;
    return *b;
}

bool boxBusy() { return boxes().showing || boxes().answering > 0; }

// The window that takes the keyboard back once no box shows: a modal window
// (the station, a window of it), else the window the box was shown over if
// it still shows, else any window of the program that shows.
QWidget* windowToFocus()
{
    if (QWidget* modal = QApplication::activeModalWidget(); modal && !isKioskBox(modal) && modal->isVisible())
        return modal;
    if (boxes().beneath && boxes().beneath->isVisible())
        return boxes().beneath;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible() && !isKioskBox(w) && (w->windowType() == Qt::Window || w->windowType() == Qt::Dialog))
            return w;
    return nullptr;
}

void showPosted(const Message& m);

// The box showing closed: the next one waiting shows, or the window beneath
// takes the keyboard back.
void nextOrFocus()
{
    Boxes& q = boxes();
    if (boxBusy())
        return;
    if (!q.waiting.empty()) {
        const Message next = q.waiting.front();
        q.waiting.pop_front();
        showPosted(next);
        return;
    }
    takeFocus(windowToFocus());
}

void showPosted(const Message& m)
{
    Boxes& q = boxes();
    q.watch();
    q.beneath = windowBeneath();
    auto* box = new TfrmMsgBox;
    box->setMessage(m);
    placeOver(*box, q.beneath);
    q.showing = box;
    QObject::connect(box, &QDialog::finished, box, [box] {
        Boxes& q = boxes();
        if (q.showing == box)
            q.showing = nullptr;
        box->deleteLater();
        nextOrFocus();
    });
    box->show();
    box->raise();
    box->activateWindow();
}

}  // namespace

Answer answerInMsgBox(const Message& m)
{
    Boxes& q = boxes();
    q.watch();
    QPointer<QWidget> parent = windowBeneath();
    int result = 0;
    {
        // A window of its own: whatever happens to the window beneath while
        // the box waits for its answer, the box is not taken with it.
        TfrmMsgBox box;
        box.setMessage(m);
        placeOver(box, parent);
        ++q.answering;
        result = box.exec();
        --q.answering;
    }
    // Without a window manager nobody gives the window beneath the keyboard
    // focus again: it takes it back itself (or the next box shows).
    if (boxBusy())
        keepMsgBoxOnTop();
    else if (!q.waiting.empty())
        nextOrFocus();
    else
        takeFocus(parent && parent->isVisible() ? parent.data() : windowToFocus());
    if (result == 1)
        return firstButton(m.buttons);
    if (result == 2)
        return (m.buttons & kNo) ? Answer::kNo : Answer::kCancel;
    return Answer::kClosed;
}

bool showInMsgBox(const Message& m) { return answerInMsgBox(m) != firstButton(m.buttons); }

void postMsgBox(const Message& m)
{
    Boxes& q = boxes();
    if (q.showing && sameMessage(q.showing->message(), m))
        return;
    for (const Message& w : q.waiting)
        if (sameMessage(w, m))
            return;
    if (boxBusy()) {
        q.waiting.push_back(m);
        return;
    }
    showPosted(m);
}

TfrmMsgBox* showingMsgBox() { return boxes().showing; }

void setCardKeysTarget(QWidget* target)
{
    boxes().cardKeys = target;
    boxes().watch();
}

int waitingMsgBoxes() { return int(boxes().waiting.size()); }

void dismissMsgBoxes(const std::string& why)
{
    Boxes& q = boxes();
    for (const Message& w : q.waiting)
        logLine("message dismissed unanswered (" + why + "): " + messageText(w));
    q.waiting.clear();
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<TfrmMsgBox*>(w); box && box->isVisible()) {
            logLine("message dismissed unanswered (" + why + "): " + messageText(box->message()));
            box->reject();
        }
}

void keepMsgBoxOnTop()
{
    auto* top = qobject_cast<TfrmMsgBox*>(QApplication::activeModalWidget());
    if (!top || !top->isVisible())
        return;
    top->raise();
    top->activateWindow();
}

}  // namespace dialogs
