// makepictures: draws the message box's default pictures — warning.bmp,
// error.bmp and question.bmp — into a directory. The program ships the files
// it made (assets/); a site may replace them with pictures of its own.
//
//   makepictures DIR

#include <QColor>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QString>

#include <cstdio>

namespace {

constexpr int kSize = 96;
// The ground, which the message box shows as transparent (it takes the
// bottom-left pixel's colour for it); white like the box, so the edges blend.
const QColor kBackground(255, 255, 255);

QImage canvas()
{
    QImage img(kSize, kSize, QImage::Format_RGB32);
    img.fill(kBackground);
    return img;
}

void begin(QPainter& p)
{
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(kSize / 96.0, kSize / 96.0);
}

QImage warning()
{
    QImage img = canvas();
    QPainter p(&img);
    begin(p);
    QPainterPath tri;
    tri.moveTo(48, 6);
    tri.lineTo(91, 86);
    tri.lineTo(5, 86);
    tri.closeSubpath();
    p.setPen(QPen(QColor(60, 50, 0), 4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(QColor(250, 200, 0));
    p.drawPath(tri);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(30, 30, 30));
    p.drawRoundedRect(QRectF(43, 30, 10, 34), 4, 4);
    p.drawEllipse(QPointF(48, 74), 6, 6);
    return img;
}

QImage error()
{
    QImage img = canvas();
    QPainter p(&img);
    begin(p);
    p.setPen(QPen(QColor(120, 10, 10), 3));
    p.setBrush(QColor(210, 35, 35));
    p.drawEllipse(QPointF(48, 48), 42, 42);
    p.setPen(QPen(Qt::white, 11, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(31, 31), QPointF(65, 65));
    p.drawLine(QPointF(65, 31), QPointF(31, 65));
    return img;
}

QImage question()
{
    QImage img = canvas();
    QPainter p(&img);
    begin(p);
    p.setPen(QPen(QColor(10, 40, 110), 3));
    p.setBrush(QColor(30, 100, 200));
    p.drawEllipse(QPointF(48, 48), 42, 42);
    QPainterPath q;
    q.moveTo(35, 38);
    q.cubicTo(35, 22, 61, 22, 61, 38);
    q.cubicTo(61, 48, 48, 49, 48, 60);
    p.setPen(QPen(Qt::white, 10, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPath(q);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(48, 74), 6.5, 6.5);
    return img;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: makepictures DIR\n");
        return 2;
    }
    const QString dir = QString::fromLocal8Bit(argv[1]);
    const struct {
        const char* name;
        QImage image;
    } pictures[] = {{"warning.bmp", warning()}, {"error.bmp", error()}, {"question.bmp", question()}};
    for (const auto& pic : pictures) {
        const QString path = dir + "/" + pic.name;
        if (!pic.image.convertToFormat(QImage::Format_RGB888).save(path, "BMP")) {
            std::fprintf(stderr, "makepictures: cannot write %s\n", qPrintable(path));
            return 1;
        }
    }
    return 0;
}
