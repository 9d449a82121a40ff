#include "inversetransform.h"

#include "pixelmath.h"
#include "pixelreader.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <vector>

namespace {

// The normalised distance factor: 20 / step held in single precision.
float distanceScale(int step)
{
    return static_cast<float>(20.0 / step);
}

// The table index of a node at `distance` pixels. Computed in 64 bits so that
// absurd radii give a large index (and are refused) instead of overflowing.
qint64 weightIndex(int distance, float scale)
{
    const float product = float(distance) * scale;
    return static_cast<qint64>(std::ceil(double(product)));
}

// The terms of one output row or column at `position` on an axis of `length`
// output pixels with `nodeCount` components.
void buildTerms(std::vector<NodeTerm> &terms, int position, int length, int nodeCount, int step, int radius,
                float scale, const QList<float> &weights)
{
    terms.clear();
    const int first = position > radius ? position - radius : 0;
    const int last = length - 1 - position > radius ? position + radius : length - 1;
    for (int j = first; j <= last; ++j) {
        if (j % step != 0)
            continue;
        const int distance = j > position ? j - position : position - j;
        const int index = static_cast<int>(weightIndex(distance, scale));
        terms.push_back(NodeTerm{weights.at(index), std::min(j / step, nodeCount - 1)});
    }
}

} // namespace

int requiredWeightCount(int width, int height, int step, int radius)
{
    if (width < 1 || height < 1 || step < 1 || radius < 0)
        return 0;
    // Node 0 is on every axis, so every distance up to min(radius, size - 1)
    // occurs; the index grows with the distance.
    const int longest = std::max(width, height) - 1;
    const int distance = std::min(radius, longest);
    const qint64 count = weightIndex(distance, distanceScale(step)) + 1;
    return count > INT_MAX ? INT_MAX : static_cast<int>(count);
}

QImage inverseFTransform(const QImage &components, int width, int height, int step, int radius,
                         const QList<float> &weights, QString *error)
{
    auto fail = [error](const QString &message) {
        if (error)
            *error = message;
        return QImage();
    };
    if (components.isNull())
        return fail(QStringLiteral("no component image to expand"));
    if (width < 1 || height < 1)
        return fail(QStringLiteral("invalid output size %1x%2").arg(width).arg(height));
    if (step < 1)
        return fail(QStringLiteral("invalid node spacing %1 (must be at least 1)").arg(step));
    if (radius < 0)
        return fail(QStringLiteral("invalid reconstruction radius %1 (must be at least 0)").arg(radius));
    const int needed = requiredWeightCount(width, height, step, radius);
    if (weights.size() < needed)
        return fail(QStringLiteral("the weights table has %1 entries, but step %2 and radius %3 need %4")
                        .arg(weights.size())
                        .arg(step)
                        .arg(radius)
                        .arg(needed));

    QImage output(width, height, QImage::Format_ARGB32);
    if (output.isNull())
        return fail(QStringLiteral("cannot allocate an image of %1x%2 pixels").arg(width).arg(height));

    const PixelReader pixels(components);
    const int componentWidth = components.width();
    const int componentHeight = components.height();
    const float scale = distanceScale(step);

    std::vector<std::vector<NodeTerm>> columnTerms(static_cast<std::size_t>(width));
    for (int x = 0; x < width; ++x)
        buildTerms(columnTerms[std::size_t(x)], x, width, componentWidth, step, radius, scale, weights);

    std::vector<NodeTerm> rowTerms;
    for (int y = 0; y < height; ++y) {
        buildTerms(rowTerms, y, height, componentHeight, step, radius, scale, weights);
        QRgb *out = reinterpret_cast<QRgb *>(output.scanLine(y));
        for (int x = 0; x < width; ++x) {
            float red = 0.0f;
            float green = 0.0f;
            float blue = 0.0f;
            float weightSum = 0.0f;
            for (const NodeTerm &rowTerm : rowTerms) {
                const QRgb *componentRow = pixels.row(rowTerm.node);
                for (const NodeTerm &columnTerm : columnTerms[std::size_t(x)]) {
                    const float s = rowTerm.weight * columnTerm.weight;
                    const QRgb pixel = componentRow[columnTerm.node];
                    red += float(qRed(pixel)) * s;
                    green += float(qGreen(pixel)) * s;
                    blue += float(qBlue(pixel)) * s;
                    weightSum += s;
                }
            }
            out[x] = opaquePixel(channelFromSums(red, weightSum), channelFromSums(green, weightSum),
                                 channelFromSums(blue, weightSum));
        }
    }
    return output;
}
