#include "study/rdplot.h"

#include <QFont>
#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <functional>

namespace veltrano {

namespace {

enum class Marker { Circle, Square, Diamond, TriangleUp, TriangleDown, Cross, Plus, Star };

struct Style
{
    QColor colour;
    Marker marker;
    bool dashed;
};

// Okabe-Ito colours, a marker each; schemes beyond the standard ones take
// the colours again with dashed lines.
Style schemeStyle(const QString &scheme)
{
    static const struct
    {
        const char *name;
        QColor colour;
        Marker marker;
    } standard[] = {{"jpeg", QColor(0x00, 0x72, 0xB2), Marker::Circle},
                    {"hybrid", QColor(0xD5, 0x5E, 0x00), Marker::Square},
                    {"jpeg-opt", QColor(0x56, 0xB4, 0xE9), Marker::Diamond},
                    {"resample-box", QColor(0x00, 0x9E, 0x73), Marker::TriangleUp},
                    {"resample-lanczos", QColor(0x00, 0x00, 0x00), Marker::TriangleDown},
                    {"webp", QColor(0xE6, 0x9F, 0x00), Marker::Cross},
                    {"avif", QColor(0xCC, 0x79, 0xA7), Marker::Star},
                    {"jxl", QColor(0xC8, 0xB4, 0x00), Marker::Plus}};
    constexpr int count = int(sizeof standard / sizeof standard[0]);
    for (const auto &entry : standard)
        if (scheme == QLatin1String(entry.name))
            return Style{entry.colour, entry.marker, false};
    const int pick = int(qHash(scheme) % uint(count));
    return Style{standard[pick].colour, standard[(pick + 3) % count].marker, true};
}

void drawMarker(QPainter &painter, const QPointF &p, Marker marker)
{
    const double r = 4.0;
    switch (marker) {
    case Marker::Circle:
        painter.drawEllipse(p, 3.8, 3.8);
        break;
    case Marker::Square:
        painter.drawRect(QRectF(p.x() - 3.5, p.y() - 3.5, 7, 7));
        break;
    case Marker::Diamond:
        painter.drawPolygon(QPolygonF({p + QPointF(0, -r - 1), p + QPointF(r + 1, 0), p + QPointF(0, r + 1),
                                       p + QPointF(-r - 1, 0)}));
        break;
    case Marker::TriangleUp:
        painter.drawPolygon(QPolygonF({p + QPointF(0, -r - 1), p + QPointF(r, r), p + QPointF(-r, r)}));
        break;
    case Marker::TriangleDown:
        painter.drawPolygon(QPolygonF({p + QPointF(0, r + 1), p + QPointF(r, -r), p + QPointF(-r, -r)}));
        break;
    case Marker::Cross:
        painter.drawLine(p + QPointF(-r, -r), p + QPointF(r, r));
        painter.drawLine(p + QPointF(-r, r), p + QPointF(r, -r));
        break;
    case Marker::Plus:
        painter.drawLine(p + QPointF(-r - 1, 0), p + QPointF(r + 1, 0));
        painter.drawLine(p + QPointF(0, -r - 1), p + QPointF(0, r + 1));
        break;
    case Marker::Star: {
        QPolygonF star;
        for (int i = 0; i < 10; ++i) {
            const double angle = -M_PI / 2 + i * M_PI / 5;
            const double radius = i % 2 == 0 ? r + 1.5 : r * 0.45;
            star << p + QPointF(radius * std::cos(angle), radius * std::sin(angle));
        }
        painter.drawPolygon(star);
        break;
    }
    }
}

QString legendText(const QString &scheme)
{
    if (scheme == jpegScheme())
        return QStringLiteral("JPEG (quality q)");
    if (scheme == hybridScheme())
        return QStringLiteral("hybrid (component quality q)");
    return scheme;
}

const QColor gridColour(225, 225, 225);
const QColor axisColour(60, 60, 60);

struct Range
{
    double low = 0.0;
    double high = 1.0;
};

// A step of 1, 2 or 5 times a power of ten that divides the span into about
// `count` intervals.
double niceStep(double span, int count)
{
    const double raw = span / count;
    const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
    const double fraction = raw / magnitude;
    const double nice = fraction < 1.5 ? 1.0 : fraction < 3.0 ? 2.0 : fraction < 7.0 ? 5.0 : 10.0;
    return nice * magnitude;
}

QString tickText(double value, double step)
{
    const int decimals = std::max(0, int(std::ceil(-std::log10(step) - 1e-9)));
    return QString::number(value, 'f', decimals);
}

QString rateText(double value)
{
    // Powers of two: 1/8, 1/4 ... as decimals, 1, 2, 4 ... as integers.
    return value >= 1.0 ? QString::number(value, 'f', 0) : QString::number(value, 'g', 4);
}

QPointF mapPoint(const QRect &frame, const Range &x, const Range &y, double rate, double value)
{
    const double u = (std::log2(rate) - std::log2(x.low)) / (std::log2(x.high) - std::log2(x.low));
    const double v = (value - y.low) / (y.high - y.low);
    return QPointF(frame.left() + u * frame.width(), frame.bottom() - v * frame.height());
}

class Panel
{
public:
    Panel(QPainter &painter, const QRect &frame, const Range &x, const Range &y)
        : painter(painter), frame(frame), x(x), y(y)
    {
    }

    QPointF map(double rate, double value) const
    {
        return mapPoint(frame, x, y, rate, value);
    }

    void drawAxes(const QString &xLabel, const QString &yLabel, const QString &heading) const
    {
        QFont font = painter.font();
        painter.setPen(QPen(gridColour, 1));
        // Horizontal grid and value ticks.
        const double step = niceStep(y.high - y.low, 6);
        for (double value = std::ceil(y.low / step) * step; value <= y.high + step * 1e-9; value += step) {
            const QPointF point = map(x.low, value);
            painter.setPen(QPen(gridColour, 1));
            painter.drawLine(QPointF(frame.left(), point.y()), QPointF(frame.right(), point.y()));
            painter.setPen(axisColour);
            const QString text = tickText(value, step);
            painter.drawText(QRectF(frame.left() - 70, point.y() - 10, 62, 20), Qt::AlignRight | Qt::AlignVCenter,
                             text);
        }
        // Vertical grid at powers of two.
        for (double rate = std::pow(2.0, std::ceil(std::log2(x.low))); rate <= x.high * (1 + 1e-9); rate *= 2.0) {
            const QPointF point = map(rate, y.low);
            painter.setPen(QPen(gridColour, 1));
            painter.drawLine(QPointF(point.x(), frame.top()), QPointF(point.x(), frame.bottom()));
            painter.setPen(axisColour);
            painter.drawText(QRectF(point.x() - 40, frame.bottom() + 6, 80, 20), Qt::AlignHCenter | Qt::AlignTop,
                             rateText(rate));
        }
        painter.setPen(QPen(axisColour, 1.5));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(frame);
        // Axis labels and the panel's heading.
        painter.drawText(QRectF(frame.left(), frame.bottom() + 30, frame.width(), 24), Qt::AlignCenter, xLabel);
        painter.save();
        painter.translate(frame.left() - 78, frame.center().y());
        painter.rotate(-90);
        painter.drawText(QRectF(-frame.height() / 2.0, -24, frame.height(), 24), Qt::AlignCenter, yLabel);
        painter.restore();
        QFont bold = font;
        bold.setBold(true);
        painter.setFont(bold);
        painter.drawText(QRectF(frame.left(), frame.top() - 28, frame.width(), 24), Qt::AlignCenter, heading);
        painter.setFont(font);
    }

    QVector<QPointF> mapped(const QVector<RdPoint> &points, const std::function<double(const RdPoint &)> &value) const
    {
        QVector<QPointF> result;
        for (const RdPoint &point : points)
            if (std::isfinite(value(point)) && point.bpp > 0.0)
                result.append(map(point.bpp, value(point)));
        return result;
    }

    void drawCurve(const QVector<RdPoint> &points, const std::function<double(const RdPoint &)> &value,
                   const Style &style, bool labelled) const
    {
        const QColor &colour = style.colour;
        const bool squares = style.marker == Marker::Square;
        painter.save();
        painter.setClipRect(frame.adjusted(-6, -6, 6, 6));
        QPainterPath path;
        bool started = false;
        for (const RdPoint &point : points) {
            const double v = value(point);
            if (!std::isfinite(v) || !(point.bpp > 0.0)) {
                started = false;
                continue;
            }
            const QPointF p = map(point.bpp, v);
            if (started)
                path.lineTo(p);
            else
                path.moveTo(p);
            started = true;
        }
        painter.setPen(QPen(colour, 2.2, style.dashed ? Qt::DashLine : Qt::SolidLine));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(path);
        painter.setPen(QPen(colour, 2.2));
        painter.setBrush(Qt::white);
        for (const RdPoint &point : points) {
            const double v = value(point);
            if (!std::isfinite(v) || !(point.bpp > 0.0))
                continue;
            const QPointF p = map(point.bpp, v);
            drawMarker(painter, p, style.marker);
            if (labelled && point.quality % 25 == 0) {
                painter.setPen(colour.darker(130));
                // JPEG labels above left, hybrid labels below right, kept
                // inside the frame.
                QRectF label(p + (squares ? QPointF(6, 4) : QPointF(-34, -18)), QSizeF(44, 16));
                if (label.top() < frame.top())
                    label.moveTop(p.y() + 4);
                if (label.bottom() > frame.bottom())
                    label.moveBottom(p.y() - 4);
                if (label.right() > frame.right())
                    label.moveRight(p.x() - 6);
                painter.drawText(label, Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("q%1").arg(point.quality));
                painter.setPen(QPen(colour, 2.2));
            }
        }
        painter.restore();
    }

    // Draws the legend in the corner of the frame that covers the fewest
    // points of the curves.
    void drawLegend(const QStringList &schemes, const QVector<QPointF> &curvePoints) const
    {
        const QFontMetrics metrics(painter.font());
        int textWidth = 0;
        for (const QString &scheme : schemes)
            textWidth = std::max(textWidth, metrics.horizontalAdvance(legendText(scheme)));
        const QSizeF size(textWidth + 66, 12 + 24 * schemes.size());
        const QRectF inner = QRectF(frame).adjusted(10, 10, -10, -10);
        const QRectF corners[] = {QRectF(inner.topLeft(), size),
                                  QRectF(QPointF(inner.right() - size.width(), inner.bottom() - size.height()), size),
                                  QRectF(QPointF(inner.right() - size.width(), inner.top()), size),
                                  QRectF(QPointF(inner.left(), inner.bottom() - size.height()), size)};
        // Each corner scores by the points it covers, then by how far the
        // nearest point stays from it.
        QRectF box = corners[0];
        double best = -INFINITY;
        for (const QRectF &corner : corners) {
            double nearest = INFINITY;
            for (const QPointF &p : curvePoints) {
                const double dx = std::max({corner.left() - p.x(), 0.0, p.x() - corner.right()});
                const double dy = std::max({corner.top() - p.y(), 0.0, p.y() - corner.bottom()});
                nearest = std::min(nearest, std::hypot(dx, dy));
            }
            const int covered = int(std::count_if(curvePoints.begin(), curvePoints.end(),
                                                  [&corner](const QPointF &p) { return corner.contains(p); }));
            const double score = -1e6 * covered + std::min(nearest, 1e5);
            if (score > best) {
                best = score;
                box = corner;
            }
        }
        painter.setPen(QPen(axisColour, 1));
        painter.setBrush(QColor(255, 255, 255, 235));
        painter.drawRect(box);
        for (int i = 0; i < schemes.size(); ++i) {
            const Style style = schemeStyle(schemes[i]);
            const double yCentre = box.top() + 18 + 24 * i;
            painter.setPen(QPen(style.colour, 2.2, style.dashed ? Qt::DashLine : Qt::SolidLine));
            painter.drawLine(QPointF(box.left() + 10, yCentre), QPointF(box.left() + 40, yCentre));
            painter.setPen(QPen(style.colour, 2.2));
            painter.setBrush(Qt::white);
            drawMarker(painter, QPointF(box.left() + 25, yCentre), style.marker);
            painter.setPen(axisColour);
            painter.drawText(QRectF(box.left() + 48, yCentre - 10, box.width() - 52, 20), Qt::AlignLeft | Qt::AlignVCenter,
                             legendText(schemes[i]));
        }
    }

private:
    QPainter &painter;
    QRect frame;
    Range x;
    Range y;
};

Range valueRange(const QVector<RdCurve> &curves, const std::function<double(const RdPoint &)> &value,
                 double ceiling)
{
    double low = INFINITY;
    double high = -INFINITY;
    for (const RdCurve &curve : curves)
        for (const RdPoint &point : curve.points) {
            const double v = value(point);
            if (std::isfinite(v) && point.bpp > 0.0) {
                low = std::min(low, v);
                high = std::max(high, v);
            }
        }
    if (!(high >= low))
        return Range{0.0, 1.0};
    if (high - low < 1e-6) {
        low -= 0.5;
        high += 0.5;
    }
    const double pad = (high - low) * 0.06;
    Range range{low - pad, std::min(ceiling, high + pad)};
    const double step = niceStep(range.high - range.low, 6);
    range.low = std::floor(range.low / step) * step;
    if (ceiling > high + pad)
        range.high = std::ceil(range.high / step) * step;
    return range;
}

Range rateRange(const QVector<RdCurve> &curves)
{
    double low = INFINITY;
    double high = -INFINITY;
    for (const RdCurve &curve : curves)
        for (const RdPoint &point : curve.points)
            if (std::isfinite(point.bpp) && point.bpp > 0.0) {
                low = std::min(low, point.bpp);
                high = std::max(high, point.bpp);
            }
    if (!(high >= low))
        return Range{0.125, 8.0};
    // Whole powers of two at both ends.
    return Range{std::pow(2.0, std::floor(std::log2(low) - 0.2)), std::pow(2.0, std::ceil(std::log2(high) + 0.2))};
}

} // namespace

RdPlot::RdPlot(const QString &title, const QVector<RdCurve> &curves)
    : title(title), curves(curves)
{
}

RdPlot::RdPlot(const QString &title, const QVector<RdPoint> &jpeg, const QVector<RdPoint> &hybrid)
    : title(title), curves{RdCurve{jpegScheme(), jpeg}, RdCurve{hybridScheme(), hybrid}}
{
}

QColor RdPlot::schemeColour(const QString &scheme)
{
    return schemeStyle(scheme).colour;
}

QRect RdPlot::leftFrame()
{
    const int panelWidth = (width - 3 * 110) / 2 + 20;
    return QRect(110, 80, panelWidth, height - 80 - 80);
}

QRect RdPlot::rightFrame()
{
    const QRect left = leftFrame();
    return QRect(left.right() + 110, 80, left.width(), left.height());
}

QVector<RdPlotMark> RdPlot::marks() const
{
    const Range rates = rateRange(curves);
    const std::function<double(const RdPoint &)> values[2] = {[](const RdPoint &point) { return point.psnr; },
                                                              [](const RdPoint &point) { return point.windowedSsim; }};
    const QRect frames[2] = {leftFrame(), rightFrame()};
    const double ceilings[2] = {INFINITY, 1.0};
    QVector<RdPlotMark> result;
    for (int panel = 0; panel < 2; ++panel) {
        const Range range = valueRange(curves, values[panel], ceilings[panel]);
        for (const RdCurve &curve : curves)
            for (const RdPoint &point : curve.points) {
                const double value = values[panel](point);
                if (std::isfinite(value) && point.bpp > 0.0)
                    result.append(RdPlotMark{curve.scheme, point.quality, point.bpp,
                                             mapPoint(frames[panel], rates, range, point.bpp, value)});
            }
    }
    return result;
}

QImage RdPlot::render() const
{
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(14);
    painter.setFont(font);

    QFont titleFont = font;
    titleFont.setPixelSize(20);
    titleFont.setBold(true);
    painter.setFont(titleFont);
    painter.setPen(Qt::black);
    painter.drawText(QRect(0, 8, width, 30), Qt::AlignCenter, title);
    painter.setFont(font);

    const Range rates = rateRange(curves);
    const auto psnrOf = [](const RdPoint &point) { return point.psnr; };
    const auto ssimOf = [](const RdPoint &point) { return point.windowedSsim; };
    const QString xLabel = QStringLiteral("bits per pixel (log scale)");

    const QRect left = leftFrame();
    const QRect right = rightFrame();
    QStringList schemes;
    for (const RdCurve &curve : curves)
        schemes.append(curve.scheme);
    // The hybrid curve last, on top of the others.
    QVector<RdCurve> drawOrder;
    for (const RdCurve &curve : curves)
        if (curve.scheme != hybridScheme())
            drawOrder.append(curve);
    for (const RdCurve &curve : curves)
        if (curve.scheme == hybridScheme())
            drawOrder.append(curve);

    const auto drawPanel = [&](const QRect &frame, const std::function<double(const RdPoint &)> &value,
                               double ceiling, const QString &yLabel, const QString &heading) {
        const Panel panel(painter, frame, rates, valueRange(curves, value, ceiling));
        panel.drawAxes(xLabel, yLabel, heading);
        QVector<QPointF> mapped;
        for (const RdCurve &curve : drawOrder) {
            const bool labelled = curve.scheme == jpegScheme() || curve.scheme == hybridScheme();
            panel.drawCurve(curve.points, value, schemeStyle(curve.scheme), labelled);
            mapped += panel.mapped(curve.points, value);
        }
        panel.drawLegend(schemes, mapped);
    };
    drawPanel(left, psnrOf, INFINITY, QStringLiteral("PSNR (dB)"), QStringLiteral("PSNR"));
    drawPanel(right, ssimOf, 1.0, QStringLiteral("SSIM"), QStringLiteral("SSIM (11x11 Gaussian window, mean of R, G, B)"));
    painter.end();
    return image;
}

} // namespace veltrano
