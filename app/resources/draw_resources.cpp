// Draws the window's bitmaps and icons into the current directory. Not part of the build; run it
// once after changing the artwork:
//   g++ -std=c++20 -fPIC draw_resources.cpp $(pkg-config --cflags --libs Qt6Gui) -o /tmp/draw
//   (cd app/resources && QT_QPA_PLATFORM=offscreen /tmp/draw)

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include <cmath>
#include <functional>

namespace {

const QColor kInk(0x5a, 0x47, 0x30);
const QColor kAccent(0x9a, 0x5b, 0x2a);
const QColor kPaper(0xfb, 0xf8, 0xf1);
const QColor kTabTop(0xfb, 0xf4, 0xe6);
const QColor kTabBottom(0xe9, 0xd8, 0xb8);
const QColor kTabBorder(0xb9, 0xa2, 0x7a);
const QColor kSlate(0x4a, 0x5d, 0x73);
const QColor kExit(0xb0, 0x3a, 0x2e);

void Save(int width, int height, const char* name, const std::function<void(QPainter&)>& draw) {
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    draw(painter);
    painter.end();
    image.save(name);
}

void Tab(QPainter& p, const QRectF& r) {
    QPainterPath path;
    path.moveTo(r.left(), r.bottom());
    path.lineTo(r.left(), r.top() + 4);
    path.quadTo(r.left(), r.top(), r.left() + 4, r.top());
    path.lineTo(r.right() - 4, r.top());
    path.quadTo(r.right(), r.top(), r.right(), r.top() + 4);
    path.lineTo(r.right(), r.bottom());
    QLinearGradient fill(r.topLeft(), r.bottomLeft());
    fill.setColorAt(0, kTabTop);
    fill.setColorAt(1, kTabBottom);
    p.setBrush(fill);
    p.setPen(QPen(kTabBorder, 1));
    p.drawPath(path);
}

void Magnifier(QPainter& p, QPointF centre, double radius, double width, const QColor& color) {
    p.setBrush(QColor(255, 255, 255, 200));
    p.setPen(QPen(color, width));
    p.drawEllipse(centre, radius, radius);
    const double d = radius * 0.72;
    p.setPen(QPen(color, width * 1.5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(centre.x() + d, centre.y() + d),
               QPointF(centre.x() + radius * 1.9, centre.y() + radius * 1.9));
}

void OpenBook(QPainter& p, const QRectF& r, const QColor& cover, double pen) {
    const double mid = r.center().x();
    for (int side = -1; side <= 1; side += 2) {
        QPainterPath page;
        const double outer = side < 0 ? r.left() : r.right();
        page.moveTo(mid, r.top() + r.height() * 0.12);
        page.quadTo((mid + outer) / 2, r.top() - r.height() * 0.04, outer,
                    r.top() + r.height() * 0.08);
        page.lineTo(outer, r.bottom() - r.height() * 0.1);
        page.quadTo((mid + outer) / 2, r.bottom() - r.height() * 0.2, mid, r.bottom());
        page.closeSubpath();
        p.setBrush(kPaper);
        p.setPen(QPen(cover, pen, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.drawPath(page);
        p.setPen(QPen(QColor(cover.red(), cover.green(), cover.blue(), 120), pen * 0.6));
        for (int line = 1; line <= 3; ++line) {
            const double y = r.top() + r.height() * (0.18 + 0.18 * line);
            const double from = mid + side * r.width() * 0.08;
            const double to = outer - side * r.width() * 0.08;
            p.drawLine(QPointF(from, y), QPointF(to, y - r.height() * 0.04));
        }
    }
}

void Books(QPainter& p, const QRectF& r) {
    const QColor colors[] = {kAccent, kSlate, QColor(0x6b, 0x8e, 0x4e)};
    const double w = r.width() / 4;
    for (int i = 0; i < 3; ++i) {
        QRectF spine(r.left() + i * (w + 1), r.top() + (i == 1 ? 0 : 2), w,
                     r.height() - (i == 1 ? 0 : 2));
        p.setPen(QPen(colors[i].darker(130), 1));
        p.setBrush(colors[i]);
        p.drawRoundedRect(spine, 1, 1);
        p.setPen(QPen(kPaper, 1));
        p.drawLine(QPointF(spine.left() + 1.5, spine.top() + 3),
                   QPointF(spine.right() - 1.5, spine.top() + 3));
    }
    p.save();
    p.translate(r.left() + 3 * (w + 1) + w * 0.3, r.bottom());
    p.rotate(18);
    p.setPen(QPen(kInk.darker(120), 1));
    p.setBrush(QColor(0xd4, 0xa0, 0x4a));
    p.drawRoundedRect(QRectF(-w * 0.5, -r.height() + 3, w, r.height() - 3), 1, 1);
    p.restore();
}

void ResultList(QPainter& p, const QRectF& r) {
    p.setPen(QPen(kTabBorder.darker(130), 1));
    p.setBrush(kPaper);
    p.drawRoundedRect(r.adjusted(0, 0, -5, 0), 2, 2);
    p.setPen(QPen(kInk, 1.4, Qt::SolidLine, Qt::RoundCap));
    for (int row = 0; row < 3; ++row) {
        const double y = r.top() + 4 + row * 4.5;
        p.drawPoint(QPointF(r.left() + 3.5, y));
        p.drawLine(QPointF(r.left() + 6.5, y), QPointF(r.right() - 10, y));
    }
    Magnifier(p, QPointF(r.right() - 5, r.bottom() - 6), 3.6, 1.6, kAccent);
}

void Gear(QPainter& p, QPointF c, double outer, double inner, const QColor& color) {
    QPainterPath gear;
    const int teeth = 8;
    for (int i = 0; i < teeth * 2; ++i) {
        const double a0 = (i - 0.5) * M_PI / teeth;
        const double a1 = (i + 0.5) * M_PI / teeth;
        const double radius = (i % 2 == 0) ? outer : outer * 0.78;
        const QPointF p0(c.x() + radius * std::cos(a0), c.y() + radius * std::sin(a0));
        const QPointF p1(c.x() + radius * std::cos(a1), c.y() + radius * std::sin(a1));
        if (i == 0) {
            gear.moveTo(p0);
        } else {
            gear.lineTo(p0);
        }
        gear.lineTo(p1);
    }
    gear.closeSubpath();
    gear.addEllipse(c, inner, inner);
    gear.setFillRule(Qt::OddEvenFill);
    QRadialGradient fill(c, outer);
    fill.setColorAt(0, color.lighter(140));
    fill.setColorAt(1, color);
    p.setBrush(fill);
    p.setPen(QPen(color.darker(140), 1));
    p.drawPath(gear);
}

void ExitArrow(QPainter& p) {
    p.setPen(QPen(kInk, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(kPaper);
    QPainterPath door;
    door.moveTo(17, 9);
    door.lineTo(17, 4);
    door.lineTo(5, 4);
    door.lineTo(5, 28);
    door.lineTo(17, 28);
    door.lineTo(17, 23);
    p.drawPath(door);
    p.setPen(QPen(kExit, 3.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawLine(QPointF(11, 16), QPointF(27, 16));
    QPainterPath head;
    head.moveTo(21.5, 10.5);
    head.lineTo(27.5, 16);
    head.lineTo(21.5, 21.5);
    p.setBrush(Qt::NoBrush);
    p.drawPath(head);
}

} // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    // The left panel's search box: a tab with the caption strip, then a panel framing the edit.
    Save(272, 64, "111.png", [](QPainter& p) {
        Tab(p, QRectF(0.5, 0.5, 271, 26));
        Magnifier(p, QPointF(18, 10.5), 5.2, 1.8, kAccent);
        p.setPen(QPen(kTabBorder, 1));
        QLinearGradient panel(0, 24, 0, 64);
        panel.setColorAt(0, QColor(0xf4, 0xea, 0xd6));
        panel.setColorAt(1, QColor(0xec, 0xde, 0xc2));
        p.setBrush(panel);
        p.drawRoundedRect(QRectF(0.5, 24.5, 271, 39), 3, 3);
        p.setRenderHint(QPainter::Antialiasing, false);
        p.setPen(QPen(kTabBorder.darker(115), 1));
        p.setBrush(Qt::white);
        p.drawRect(QRect(14, 34, 180, 21));
    });
    Save(102, 24, "133.png", [](QPainter& p) {
        Tab(p, QRectF(0.5, 0.5, 101, 24));
        Books(p, QRectF(9, 5, 20, 15));
    });
    Save(102, 24, "116.png", [](QPainter& p) {
        Tab(p, QRectF(0.5, 0.5, 101, 24));
        ResultList(p, QRectF(8, 5, 24, 16));
    });
    Save(102, 24, "135.png", [](QPainter& p) {
        Tab(p, QRectF(0.5, 0.5, 101, 24));
        OpenBook(p, QRectF(7, 6, 26, 14), kAccent, 1.2);
    });
    Save(32, 32, "102.png", [](QPainter& p) { OpenBook(p, QRectF(2, 7, 28, 19), kAccent, 1.8); });
    Save(32, 32, "107.png", [](QPainter& p) { Gear(p, QPointF(16, 16), 13.5, 4.5, kSlate); });
    Save(32, 32, "110.png", [](QPainter& p) { ExitArrow(p); });
    Save(64, 64, "101.png", [](QPainter& p) {
        QLinearGradient back(0, 0, 0, 64);
        back.setColorAt(0, QColor(0xc2, 0x7a, 0x3e));
        back.setColorAt(1, kAccent.darker(115));
        p.setPen(Qt::NoPen);
        p.setBrush(back);
        p.drawRoundedRect(QRectF(2, 2, 60, 60), 12, 12);
        OpenBook(p, QRectF(9, 16, 40, 28), kInk, 2.2);
        Magnifier(p, QPointF(42, 38), 8, 3, QColor(0x2e, 0x3d, 0x4f));
    });
    return 0;
}
