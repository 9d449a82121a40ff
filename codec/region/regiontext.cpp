#include "codec/region/regiontext.h"

#include <QList>

namespace {

const char textMagic[] = "FTREGION text 1";

QByteArray number(float value) { return QByteArray::number(double(value), 'g', 9); }

} // namespace

bool isRegionTextFile(const QByteArray &start) { return start.startsWith(textMagic); }

QByteArray writeRegionText(const RegionImage &image)
{
    QByteArray text;
    text += textMagic;
    text += "\nsize " + QByteArray::number(image.width) + ' ' + QByteArray::number(image.height) + " root "
        + QByteArray::number(image.rootSide) + " min-side " + QByteArray::number(image.minSide);
    text += "\nsteps " + number(image.lumaStep) + ' ' + number(image.chromaStep);
    const RegionParameters &p = image.parameters;
    text += "\nparameters min-area " + QByteArray::number(p.minArea) + " max-diff " + number(p.maxDiff)
        + " back-rejoin " + QByteArray::number(p.backRejoin) + " edge " + number(p.edge) + " sim " + number(p.sim);
    text += "\nblocks " + QByteArray::number(image.blocks.size()) + '\n';
    static const char *names[3] = {"Y", "Cb", "Cr"};
    for (const RegionBlock &block : image.blocks) {
        text += QByteArray::number(block.x) + ' ' + QByteArray::number(block.y) + ' ' + QByteArray::number(block.side)
            + ' ' + QByteArray::number(block.width) + 'x' + QByteArray::number(block.height) + ' '
            + QByteArray::number(block.lumaSpacing);
        const int32_t *values = image.components.data() + block.offset;
        const int chroma = regionChromaSpacing(block.side, block.lumaSpacing);
        for (int c = 0; c < 3; ++c) {
            const int spacing = c == 0 ? block.lumaSpacing : chroma;
            const int count = regionNodeCount(block.width, spacing) * regionNodeCount(block.height, spacing);
            text += ' ';
            text += names[c];
            for (int k = 0; k < count; ++k)
                text += ' ' + QByteArray::number(values[k]);
            values += count;
        }
        text += '\n';
    }
    return text;
}

bool readRegionText(const QByteArray &text, RegionImage *image, QString *error, qint64 maxPixels)
{
    int lineNumber = 0;
    auto refuse = [&](const QString &fault) {
        if (error)
            *error = lineNumber > 0 ? QStringLiteral("line %1: %2").arg(lineNumber).arg(fault) : fault;
        return false;
    };
    if (!isRegionTextFile(text))
        return refuse(QStringLiteral("it is not a text block file (its first line is not '%1')")
                          .arg(QLatin1String(textMagic)));
    const QList<QByteArray> lines = text.split('\n');
    if (lines.size() < 5)
        return refuse(QStringLiteral("its header lines are missing; the file is truncated"));
    auto words = [&](int index) {
        lineNumber = index + 1;
        return lines.at(index).split(' ');
    };
    auto integer = [](const QByteArray &word, qint64 minimum, qint64 maximum, qint64 *value) {
        bool ok = false;
        *value = word.toLongLong(&ok);
        return ok && *value >= minimum && *value <= maximum;
    };
    auto real = [](const QByteArray &word, float *value) {
        bool ok = false;
        *value = word.toFloat(&ok);
        return ok;
    };
    RegionImage result;
    QList<QByteArray> w = words(1);
    qint64 width, height, root, minSide;
    if (w.size() != 7 || w.at(0) != "size" || w.at(3) != "root" || w.at(5) != "min-side"
        || !integer(w.at(1), 1, 0x7FFFFFFF, &width) || !integer(w.at(2), 1, 0x7FFFFFFF, &height)
        || !integer(w.at(4), 1, 1024, &root) || !integer(w.at(6), 1, root, &minSide))
        return refuse(QStringLiteral("expected 'size W H root R min-side M' with sizes from 1, R up to 1024 and M "
                                     "up to R"));
    if ((root & (root - 1)) || (minSide & (minSide - 1)))
        return refuse(QStringLiteral("the root and smallest sides must be powers of two"));
    if (width * height > maxPixels)
        return refuse(QStringLiteral("an image of %1x%2 pixels is too large (at most %3 pixels)")
                          .arg(width).arg(height).arg(maxPixels));
    result.width = int(width);
    result.height = int(height);
    result.rootSide = int(root);
    result.minSide = int(minSide);
    w = words(2);
    if (w.size() != 3 || w.at(0) != "steps" || !real(w.at(1), &result.lumaStep) || !real(w.at(2), &result.chromaStep)
        || !(result.lumaStep >= 1.0f / 64 && result.lumaStep <= 65536.0f)
        || !(result.chromaStep >= 1.0f / 64 && result.chromaStep <= 65536.0f))
        return refuse(QStringLiteral("expected 'steps LUMA CHROMA', each from 1/64 to 65536"));
    w = words(3);
    qint64 minArea, backRejoin;
    RegionParameters &p = result.parameters;
    if (w.size() != 11 || w.at(0) != "parameters" || w.at(1) != "min-area" || w.at(3) != "max-diff"
        || w.at(5) != "back-rejoin" || w.at(7) != "edge" || w.at(9) != "sim"
        || !integer(w.at(2), 1, 1 << 20, &minArea) || !real(w.at(4), &p.maxDiff)
        || !integer(w.at(6), 0, 1, &backRejoin) || !real(w.at(8), &p.edge) || !real(w.at(10), &p.sim))
        return refuse(QStringLiteral("expected 'parameters min-area A max-diff D back-rejoin B edge E sim S'"));
    p.minArea = int(minArea);
    p.backRejoin = int(backRejoin);
    QString fault;
    if (!checkRegionParameters(p, &fault))
        return refuse(fault);
    w = words(4);
    qint64 blockCount;
    if (w.size() != 2 || w.at(0) != "blocks" || !integer(w.at(1), 1, width * height, &blockCount))
        return refuse(QStringLiteral("expected 'blocks N' with N from 1 to the pixel count"));
    if (lines.size() < 5 + blockCount)
        return refuse(QStringLiteral("the file ends after %1 of its %2 blocks; it is truncated")
                          .arg(qMax(0, lines.size() - 6)).arg(blockCount));
    static const char *names[3] = {"Y", "Cb", "Cr"};
    for (int index = 0; index < blockCount; ++index) {
        w = words(5 + index);
        RegionBlock block;
        qint64 x, y, side, spacing;
        const QList<QByteArray> size = w.size() > 3 ? w.at(3).split('x') : QList<QByteArray>();
        qint64 blockWidth = 0, blockHeight = 0;
        if (w.size() < 5 || !integer(w.at(0), 0, width - 1, &x) || !integer(w.at(1), 0, height - 1, &y)
            || !integer(w.at(2), 1, root, &side) || size.size() != 2 || !integer(size.at(0), 1, side, &blockWidth)
            || !integer(size.at(1), 1, side, &blockHeight) || !integer(w.at(4), 1, side, &spacing)
            || (spacing & (spacing - 1)))
            return refuse(QStringLiteral("expected 'X Y SIDE WxH SPACING Y ... Cb ... Cr ...' inside the image, "
                                         "the spacing a power of two up to the side"));
        block.x = int(x);
        block.y = int(y);
        block.side = int(side);
        block.width = int(blockWidth);
        block.height = int(blockHeight);
        block.lumaSpacing = int(spacing);
        block.offset = qint64(result.components.size());
        const int chroma = regionChromaSpacing(block.side, block.lumaSpacing);
        int word = 5;
        for (int c = 0; c < 3; ++c) {
            const int s = c == 0 ? block.lumaSpacing : chroma;
            const qint64 count = qint64(regionNodeCount(block.width, s)) * regionNodeCount(block.height, s);
            if (word + 1 + count > w.size() || w.at(word) != names[c])
                return refuse(QStringLiteral("the %1 grid of this block needs %2 values after '%1'")
                                  .arg(QLatin1String(names[c])).arg(count));
            for (qint64 k = 0; k < count; ++k) {
                qint64 value;
                if (!integer(w.at(int(word + 1 + k)), -1048575, 1048575, &value))
                    return refuse(QStringLiteral("'%1' is not a component from -1048575 to 1048575")
                                      .arg(QString::fromLatin1(w.at(int(word + 1 + k)))));
                result.components.push_back(int32_t(value));
            }
            word += int(1 + count);
        }
        if (word != w.size())
            return refuse(QStringLiteral("the line has %1 words after the block's components").arg(w.size() - word));
        result.blocks.append(block);
    }
    lineNumber = 0;
    for (int k = 5 + int(blockCount); k < lines.size(); ++k)
        if (!lines.at(k).isEmpty()) {
            lineNumber = k + 1;
            return refuse(QStringLiteral("there is text after the last block"));
        }
    if (!checkRegionPartition(result, &fault))
        return refuse(fault);
    *image = std::move(result);
    return true;
}
