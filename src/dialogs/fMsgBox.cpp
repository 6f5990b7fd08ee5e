#include "dialogs/fMsgBox.h"

#include "dialogs/WindowFocus.h"

#include "data/Catalogue.h"
#include "data/Paths.h"

#include <QApplication>
#include <QFile>
#include <QFrame>
#include <QLabel>
#include <QBitmap>
#include <QPixmap>
#include <QPointer>
#include <QPushButton>
#include <QScreen>

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
}  // namespace

TfrmMsgBox::TfrmMsgBox(QWidget* parent) : QDialog(parent)
{
    setObjectName("TfrmMsgBox");
    setModal(true);
    scale_ = screenScale();
    auto px = [this](int v) { return int(v * scale_ + 0.5); };
    QFont font("Arial");
    font.setPixelSize(px(27));
    setFont(font);
    setFixedSize(px(992), px(209));

    // The kiosk runs without a window manager, so the box gets no title bar
    // or border from it: a frame of its own and a white ground set it off
    // from the screen behind it.
    QPalette ground = palette();
    ground.setColor(QPalette::Window, Qt::white);
    setPalette(ground);
    setAutoFillBackground(true);
    auto* border = new QFrame(this);
    border->setObjectName("frmBorder");
    border->setFrameStyle(QFrame::Box | QFrame::Plain);
    border->setLineWidth(std::max(2, px(3)));
    border->setGeometry(rect());
    border->setAttribute(Qt::WA_TransparentForMouseEvents);

    imgSign = new QLabel(this);
    imgSign->setObjectName("imgSign");
    imgSign->setGeometry(px(8), px(32), px(65), px(65));
    imgSign->setAttribute(Qt::WA_TranslucentBackground);
    imgSign->setAlignment(Qt::AlignCenter);

    txtMessage1 = new QLabel(this);
    txtMessage1->setObjectName("txtMessage1");
    txtMessage1->move(px(96), px(32));

    txtMessage2 = new QLabel(this);
    txtMessage2->setObjectName("txtMessage2");
    txtMessage2->setGeometry(px(96), px(80), px(500), px(36));

    cmdOK = new QPushButton("OK", this);
    cmdOK->setObjectName("cmdOK");
    cmdOK->setGeometry(px(192), px(128), px(289), px(57));
    cmdOK->setDefault(true);
    connect(cmdOK, &QPushButton::clicked, this, [this] { done(1); });

    cmdCancel = new QPushButton("Cancel", this);
    cmdCancel->setObjectName("cmdCancel");
    cmdCancel->setGeometry(px(496), px(128), px(289), px(57));
    cmdCancel->hide();
    connect(cmdCancel, &QPushButton::clicked, this, [this] { done(2); });

    setTabOrder(cmdOK, cmdCancel);
    cmdOK->setFocus();
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
    auto px = [this](int v) { return int(v * scale_ + 0.5); };
    setWindowTitle(QString::fromStdString(m.caption));
    txtMessage1->setText(QString::fromStdString(m.line1));
    txtMessage1->adjustSize();
    txtMessage2->setText(QString::fromStdString(m.line2));

    // A missing or unreadable picture shows no picture and no error.
    imgSign->clear();
    QString file = pictureFile(m.kind);
    if (!file.isEmpty()) {
        QString path = QString::fromStdString(xb::resolvePath(catalogue::programDir() + file.toStdString()));
        QPixmap pic;
        if (QFile::exists(path) && pic.load(path)) {
            // Transparent: the colour of the bottom-left pixel is the ground.
            const QColor ground = pic.toImage().pixelColor(0, pic.height() - 1);
            pic.setMask(pic.createMaskFromColor(ground, Qt::MaskInColor));
            imgSign->setPixmap(pic.scaled(imgSign->size(), Qt::KeepAspectRatio, Qt::SmoothTransformation));
        }
    }

    if (m.buttons & dialogs::kYes)
        cmdOK->setText("Yes");
    else if (m.buttons & dialogs::kOk)
        cmdOK->setText("OK");

    if (m.buttons & dialogs::kNo) {
        setFixedWidth(px(1000));
        cmdCancel->setText("No");
        cmdCancel->show();
    } else if (m.buttons & dialogs::kCancel) {
        setFixedWidth(px(1000));
        cmdCancel->setText("Cancel");
        cmdCancel->show();
    } else {
        setFixedWidth(px(600));
        cmdCancel->hide();
    }
    if (auto* border = findChild<QFrame*>("frmBorder"))
        border->setGeometry(rect());
}

namespace dialogs {

Answer answerInMsgBox(const Message& m)
{
    QPointer<QWidget> parent = QApplication::activeWindow();
    int result = 0;
    {
        TfrmMsgBox box(parent);
        box.setMessage(m);
        if (parent) {
            QRect r = parent->frameGeometry();
            box.move(r.center() - QPoint(box.width() / 2, box.height() / 2));
        }
        result = box.exec();
    }
    // Without a window manager nobody gives the window beneath the keyboard
    // focus again: it takes it back itself.
    takeFocus(parent);
    if (result == 1)
        return firstButton(m.buttons);
    if (result == 2)
        return (m.buttons & kNo) ? Answer::kNo : Answer::kCancel;
    return Answer::kClosed;
}

bool showInMsgBox(const Message& m) { return answerInMsgBox(m) != firstButton(m.buttons); }

}  // namespace dialogs
