#include "station/fAbout.h"

#include <QGridLayout>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QTextEdit>

namespace {

// The program's icon: a scale deck under a weight reading, drawn so no
// picture file has to ship for it.
QPixmap programIcon()
{
    QPixmap p(64, 64);
    p.fill(Qt::transparent);
    QPainter g(&p);
    g.setRenderHint(QPainter::Antialiasing);
    g.setBrush(QColor(0, 60, 160));
    g.setPen(Qt::NoPen);
    g.drawRoundedRect(4, 6, 56, 26, 4, 4);
    g.setPen(QColor(120, 255, 120));
    QFont f = g.font();
    f.setBold(true);
    f.setPixelSize(16);
    g.setFont(f);
    g.drawText(QRect(4, 6, 56, 26), Qt::AlignCenter, "kg");
    g.setPen(Qt::NoPen);
    g.setBrush(QColor(90, 90, 90));
    g.drawRect(4, 44, 56, 8);
    g.drawRect(10, 52, 6, 8);
    g.drawRect(48, 52, 6, 8);
    return p;
}

}  // namespace

QString TfrmAbout::aboutText()
{
    return QStringLiteral(
        "<p style=\"margin:0\"><span style=\"font-size:25pt; font-weight:bold; color:blue\">Ponderix</span></p>"
        "<p style=\"margin:0; font-size:10pt; color:black\"><br><br></p>"
        "<p style=\"margin:0; font-size:10pt; color:black\">________________________________</p>"
        "<p style=\"margin:0\"><span style=\"font-size:20pt; font-weight:bold; color:blue\">Grazulo Weighing "
        "Systems</span></p>"
        "<p style=\"margin:0; font-size:10pt; color:black\">14 Station Road<br>Millbrook Industrial Park<br>"
        "Millbrook, MB 40210<br>Enquiries: (555) 010-4477</p>");
}

TfrmAbout::TfrmAbout(QWidget* parent) : QDialog(parent)
{
    setObjectName("frmAbout");
    setWindowTitle("About Ponderix...");
    auto* g = new QGridLayout(this);
    imgIcon = new QLabel(this);
    imgIcon->setObjectName("imgIcon");
    imgIcon->setPixmap(programIcon());
    imgIcon->setAccessibleName("Ponderix");
    txtAbout = new QTextEdit(this);
    txtAbout->setObjectName("txtAbout");
    txtAbout->setFrameShape(QFrame::NoFrame);
    txtAbout->setHtml(aboutText());
    txtAbout->setEnabled(false);
    txtAbout->setAccessibleName("About Ponderix");
    QPalette pal = txtAbout->palette();
    pal.setColor(QPalette::Base, palette().color(QPalette::Window));
    pal.setColor(QPalette::Disabled, QPalette::Text, Qt::black);
    txtAbout->setPalette(pal);
    txtAbout->setMinimumSize(420, 260);
    cmdOK = new QPushButton("OK", this);
    cmdOK->setObjectName("cmdOK");
    cmdOK->setDefault(true);
    connect(cmdOK, &QPushButton::clicked, this, &QDialog::accept);
    g->addWidget(imgIcon, 0, 0, Qt::AlignTop | Qt::AlignLeft);
    g->addWidget(txtAbout, 0, 1);
    g->addWidget(cmdOK, 1, 0, 1, 2, Qt::AlignCenter);
    setFixedSize(sizeHint());
}
