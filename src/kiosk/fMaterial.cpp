#include "kiosk/fMaterial.h"

#include "devices/ScaleReading.h"
#include "dialogs/MessageSeam.h"
#include "kiosk/CurrentTicket.h"
#include "kiosk/KioskSettings.h"
#include "kiosk/ScaleCheck.h"
#include "kiosk/uDB.h"

#include <QFontMetrics>
#include <QLabel>
#include <QResizeEvent>
#include <QTimer>
#include <QVBoxLayout>

MaterialButton::MaterialButton(QWidget* parent) : QPushButton(parent)
{
    label_ = new QLabel(this);
    label_->setWordWrap(true);
    label_->setAlignment(Qt::AlignCenter);
    label_->setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
}

void MaterialButton::setCaption(const QString& caption)
{
    caption_ = caption;
    setAccessibleName(caption);
    label_->setText(caption);
    fitCaption();
}

void MaterialButton::resizeEvent(QResizeEvent* e)
{
    QPushButton::resizeEvent(e);
    fitCaption();
}

void MaterialButton::changeEvent(QEvent* e)
{
    QPushButton::changeEvent(e);
    if (e->type() == QEvent::FontChange)
        fitCaption();
}

void MaterialButton::fitCaption()
{
    const QRect area = rect().adjusted(4, 4, -4, -4);
    label_->setGeometry(area);
    QFont f = font();
    if (f.pixelSize() > 0 && !caption_.isEmpty()) {
        const int flags = Qt::AlignCenter | Qt::TextWordWrap;
        auto fits = [&](const QFont& font) {
            const QRect need = QFontMetrics(font).boundingRect(area, flags, caption_);
            return need.width() <= area.width() && need.height() <= area.height();
        };
        while (f.pixelSize() > 8 && !fits(f))
            f.setPixelSize(f.pixelSize() - 1);
    }
    label_->setFont(f);
}

TfrmMaterial::TfrmMaterial(QWidget* parent) : KioskScreen(1012, 726, parent)
{
    setObjectName("frmMaterial");
    setWindowTitle("Select Material");

    Label1 = new QLabel("SELECT MATERIAL", this);
    Label1->setObjectName("Label1");
    Label1->setAlignment(Qt::AlignCenter);
    place(Label1, 0, 8, 1012, 80, 64);

    Label2 = new QLabel("License Plate:", this);
    Label2->setObjectName("Label2");
    place(Label2, 96, 96, 200, 30, 24);
    txtLicense = new FitLabel(this);
    txtLicense->setObjectName("txtLicense");
    txtLicense->setForegroundRole(QPalette::Highlight);
    place(txtLicense, 296, 96, 620, 30, 24);
    Label4 = new QLabel("Customer:", this);
    Label4->setObjectName("Label4");
    place(Label4, 96, 128, 200, 30, 24);
    txtCust = new FitLabel(this);
    txtCust->setObjectName("txtCust");
    txtCust->setForegroundRole(QPalette::Highlight);
    place(txtCust, 296, 128, 620, 30, 24);

    static const int cols[] = {96, 304, 512, 720};
    static const int rows[] = {166, 262, 358, 454};
    for (int i = 0; i < 16; ++i) {
        auto* b = new MaterialButton(this);
        b->setObjectName(QString("cmdMat%1").arg(i + 1));
        b->setFont(QFont("Times New Roman"));
        place(b, cols[i % 4], rows[i / 4], 193, 90, 27);
        connect(b, &QPushButton::clicked, this, [this, b] { cmdMat1Click(b); });
        cmdMat[i] = b;
        if (i > 0)
            setTabOrder(cmdMat[i - 1], b);
    }

    Label6 = new QLabel("TOUCH ONE OF THE ABOVE", this);
    Label6->setObjectName("Label6");
    Label6->setAlignment(Qt::AlignCenter);
    place(Label6, 0, 572, 1012, 60, 40);

    lblWait = new QLabel("PLEASE WAIT: READING THE WEIGHT...", this);
    lblWait->setObjectName("lblWait");
    lblWait->setAlignment(Qt::AlignCenter);
    lblWait->setForegroundRole(QPalette::Highlight);
    place(lblWait, 0, 640, 1012, 60, 32);
    lblWait->hide();

    reader_ = new kiosk::WeightReader(devices::ScaleCheckScreen::kMaterial, this);
    connect(reader_, &kiosk::WeightReader::waiting, lblWait, &QWidget::show);
    connect(reader_, &kiosk::WeightReader::weighed, this, &TfrmMaterial::storeTicket);
    // Refused (its message shown) or without digits: the driver touches
    // again once the scale reads.
    connect(reader_, &kiosk::WeightReader::empty, lblWait, &QWidget::hide);
    connect(reader_, &kiosk::WeightReader::refused, lblWait, &QWidget::hide);

    timerBack = new QTimer(this);
    timerBack->setObjectName("timerBack");
    timerBack->setSingleShot(true);
    connect(timerBack, &QTimer::timeout, this, [this] {
        reader_->cancel();
        lblWait->hide();
        emit visitAbandoned();
    });
}

void TfrmMaterial::showEvent(QShowEvent* e)
{
    KioskScreen::showEvent(e);
    // No way back but the time-out: it is never "none".
    if (!timerBack->isActive())
        timerBack->start(
            kiosk::TimeoutMsOr(kiosk::KioskSettings().licenseTimeout, kiosk::kMaterialSecondsWithoutTimeout));
}

void TfrmMaterial::hideEvent(QHideEvent* e)
{
    timerBack->stop();
    reader_->cancel();
    lblWait->hide();
    KioskScreen::hideEvent(e);
}

bool TfrmMaterial::FormCreate()
{
    // A table that fails part way still offers the materials read before
    // (the engine reports the failure).
    std::vector<std::string> names;
    kiosk::LoadProducts(names);
    // Names past the sixteenth have no button and are not offered.
    int offered = 0;
    for (std::size_t i = 0; i < names.size() && i < 16; ++i) {
        cmdMat[i]->setCaption(QString::fromStdString(names[i]).trimmed());
        if (!cmdMat[i]->caption().isEmpty())
            ++offered;
    }
    return offered > 0;
}

void TfrmMaterial::cmdMat1Click(MaterialButton* button)
{
    if (button->caption().isEmpty() || taken_ || reader_->busy())
        return;
    chosen_ = button->caption();
    reader_->start();
}

void TfrmMaterial::storeTicket(const QString& weight)
{
    lblWait->hide();
    if (taken_ || !isVisible())
        return;
    taken_ = true;
    timerBack->stop();
    kiosk::Ticket& ct = kiosk::CurrentTicket();
    ct.in_wgt = weight.toStdString();
    ct.product = chosen_.toStdString();
    // The number is kept in the counter before the ticket is stored under
    // it: a counter that cannot be written never issues a number twice.
    ct.ticket = kiosk::IssueTicketNo();
    if (ct.ticket < 0 || !kiosk::AddInboundTicket()) {
        dialogs::ShowMsgBox("Ticket Error", "The ticket could not be stored.", "Please see the scale office.",
                            dialogs::kError, dialogs::kOk);
        emit ticketNotStored();
        return;
    }
    emit ticketStored();
    kiosk::ClearTicket();
}
