// Draws the Tavrin window icon: a block of city buildings seen from above
// at an angle, standing on a parcel outlined in red, inside the corner marks
// of a camera viewfinder.

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

#include <climits>
#include <cmath>
#include <cstdio>

namespace {

constexpr int kSize = 1024;
constexpr double kScale = 78.0;
const QPointF kOrigin(512.0, 560.0);

// Isometric projection of model coordinates (x right-down, y left-down, z up).
QPointF iso(double x, double y, double z)
{
    const double c = std::cos(M_PI / 6.0);
    return kOrigin + QPointF((x - y) * c * kScale, ((x + y) * 0.5 - z) * kScale);
}

void drawBox(QPainter& p, double x, double y, double w, double d, double h, QColor top, QColor right, QColor left)
{
    p.setPen(Qt::NoPen);
    p.setBrush(left);
    p.drawPolygon(QPolygonF{iso(x, y + d, 0), iso(x + w, y + d, 0), iso(x + w, y + d, h), iso(x, y + d, h)});
    p.setBrush(right);
    p.drawPolygon(QPolygonF{iso(x + w, y, 0), iso(x + w, y + d, 0), iso(x + w, y + d, h), iso(x + w, y, h)});
    p.setBrush(top);
    p.drawPolygon(QPolygonF{iso(x, y, h), iso(x + w, y, h), iso(x + w, y + d, h), iso(x, y + d, h)});
}

void drawCorner(QPainter& p, QPointF corner, double dx, double dy)
{
    const double arm = 150.0;
    QPainterPath path(corner + QPointF(0, dy * arm));
    path.lineTo(corner);
    path.lineTo(corner + QPointF(dx * arm, 0));
    p.drawPath(path);
}

// The icon is drawn from a few flat colours; its antialiased edges are
// blends of two of them. A palette of those colours and blends keeps the
// picture as drawn and the file small.
QImage toPaletteImage(const QImage& image)
{
    const QRgb clear = qRgba(0x1d, 0x3b, 0x57, 0);
    const QRgb tile = qRgb(0x1d, 0x3b, 0x57), mark = qRgb(0xf4, 0xf1, 0xea), ground = qRgb(0x2c, 0x55, 0x72),
               red = qRgb(0xe8, 0x4a, 0x3b), right = qRgb(0xb9, 0xc6, 0xcf), left = qRgb(0x8a, 0x9d, 0xab);
    const QRgb pairs[][2] = {{clear, tile},  {tile, mark},    {tile, ground}, {tile, red},
                             {ground, red},  {red, mark},     {red, right},   {red, left},
                             {ground, mark}, {ground, right}, {ground, left}, {tile, right},
                             {tile, left},   {mark, right},   {mark, left},   {right, left}};
    QList<QRgb> table;
    for (const auto& pair : pairs) {
        for (int step = 0; step <= 15; ++step) {
            const auto mix = [step](int a, int b) { return (a * (15 - step) + b * step) / 15; };
            const QRgb colour = qRgba(mix(qRed(pair[0]), qRed(pair[1])), mix(qGreen(pair[0]), qGreen(pair[1])),
                                      mix(qBlue(pair[0]), qBlue(pair[1])), mix(qAlpha(pair[0]), qAlpha(pair[1])));
            if (!table.contains(colour) && table.size() < 256)
                table.append(colour);
        }
    }

    QImage result(image.size(), QImage::Format_Indexed8);
    result.setColorTable(table);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = image.pixel(x, y);
            int best = 0;
            int bestDistance = INT_MAX;
            for (int i = 0; i < table.size(); ++i) {
                const QRgb c = table[i];
                const int dr = qRed(c) - qRed(pixel), dg = qGreen(c) - qGreen(pixel), db = qBlue(c) - qBlue(pixel),
                          da = qAlpha(c) - qAlpha(pixel);
                const int distance = dr * dr + dg * dg + db * db + 4 * da * da;
                if (distance < bestDistance) {
                    bestDistance = distance;
                    best = i;
                }
            }
            result.setPixel(x, y, static_cast<uint>(best));
        }
    }
    return result;
}

}  // namespace

int main(int argc, char* argv[])
{
    QGuiApplication app(argc, argv);
    const char* target = argc > 1 ? argv[1] : "tavrin.png";

    QImage image(kSize, kSize, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);

    // Rounded tile.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x1d, 0x3b, 0x57));
    p.drawRoundedRect(QRectF(32, 32, kSize - 64, kSize - 64), 190, 190);

    // Viewfinder corners.
    QPen framePen(QColor(0xf4, 0xf1, 0xea), 34, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(framePen);
    p.setBrush(Qt::NoBrush);
    drawCorner(p, QPointF(168, 168), 1, 1);
    drawCorner(p, QPointF(856, 168), -1, 1);
    drawCorner(p, QPointF(168, 856), 1, -1);
    drawCorner(p, QPointF(856, 856), -1, -1);

    // Ground of the parcel.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x2c, 0x55, 0x72));
    p.drawPolygon(QPolygonF{iso(-0.6, -0.6, 0), iso(3.6, -0.6, 0), iso(3.6, 3.6, 0), iso(-0.6, 3.6, 0)});

    // Parcel outline.
    p.setPen(QPen(QColor(0xe8, 0x4a, 0x3b), 20, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPolygon(QPolygonF{iso(-0.6, -0.6, 0), iso(3.6, -0.6, 0), iso(3.6, 3.6, 0), iso(-0.6, 3.6, 0)});

    // Buildings, back to front.
    const QColor top(0xf4, 0xf1, 0xea), right(0xb9, 0xc6, 0xcf), left(0x8a, 0x9d, 0xab);
    drawBox(p, 0.0, 0.0, 1.3, 1.3, 3.2, top, right, left);
    drawBox(p, 1.7, 0.0, 1.3, 1.3, 2.0, top, right, left);
    drawBox(p, 0.0, 1.7, 1.3, 1.3, 1.5, top, right, left);
    drawBox(p, 1.7, 1.7, 1.3, 1.3, 2.6, top, right, left);

    p.end();

    const QImage palette = toPaletteImage(image);
    if (!palette.save(QString::fromLocal8Bit(target), "PNG", 9)) {
        std::fprintf(stderr, "cannot write %s\n", target);
        return 1;
    }
    return 0;
}
