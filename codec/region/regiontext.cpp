#include "codec/region/regiontext.h"

#include <QList>

namespace veltrano {

namespace {

const char textMagic[] = "FTREGION text 1";
const char *const gridNames[3] = {"Y", "Cb", "Cr"};

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
            text += gridNames[c];
            for (int k = 0; k < count; ++k)
                text += ' ' + QByteArray::number(values[k]);
            values += count;
        }
        text += '\n';
    }
    return text;
}

namespace {

bool readInteger(const QByteArray &word, qint64 minimum, qint64 maximum, qint64 *value)
{
    bool ok = false;
    *value = word.toLongLong(&ok);
    return ok && *value >= minimum && *value <= maximum;
}

bool readReal(const QByteArray &word, float *value)
{
    bool ok = false;
    *value = word.toFloat(&ok);
    return ok;
}

// Reads a text block file line by line into `result`; each step returns
// false with `fault` set and `lineNumber` at the line at fault (0 for the
// file as a whole).
class RegionTextReader
{
public:
    explicit RegionTextReader(const QList<QByteArray> &lines) : m_lines(lines) {}

    bool readSize(qint64 maxPixels);
    bool readSteps();
    bool readParameters();
    bool readBlocks();
    bool checkEnd();

    RegionImage result;
    QString fault;
    int lineNumber = 0;

private:
    QList<QByteArray> words(int index)
    {
        lineNumber = index + 1;
        return m_lines.at(index).split(' ');
    }
    bool refuse(const QString &why)
    {
        fault = why;
        return false;
    }
    bool readBlock(const QList<QByteArray> &w);
    bool readGrid(const QList<QByteArray> &w, int c, int spacing, const RegionBlock &block, int *word);

    const QList<QByteArray> &m_lines;
};

bool RegionTextReader::readSize(qint64 maxPixels)
{
    const QList<QByteArray> w = words(1);
    qint64 width, height, root, minSide;
    if (w.size() != 7 || w.at(0) != "size" || w.at(3) != "root" || w.at(5) != "min-side"
        || !readInteger(w.at(1), 1, 0x7FFFFFFF, &width) || !readInteger(w.at(2), 1, 0x7FFFFFFF, &height)
        || !readInteger(w.at(4), 1, 1024, &root) || !readInteger(w.at(6), 1, root, &minSide))
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
    return true;
}

bool RegionTextReader::readSteps()
{
    const QList<QByteArray> w = words(2);
    if (w.size() != 3 || w.at(0) != "steps" || !readReal(w.at(1), &result.lumaStep)
        || !readReal(w.at(2), &result.chromaStep) || !(result.lumaStep >= 1.0f / 64 && result.lumaStep <= 65536.0f)
        || !(result.chromaStep >= 1.0f / 64 && result.chromaStep <= 65536.0f))
        return refuse(QStringLiteral("expected 'steps LUMA CHROMA', each from 1/64 to 65536"));
    return true;
}

bool RegionTextReader::readParameters()
{
    const QList<QByteArray> w = words(3);
    qint64 minArea, backRejoin;
    RegionParameters &p = result.parameters;
    if (w.size() != 11 || w.at(0) != "parameters" || w.at(1) != "min-area" || w.at(3) != "max-diff"
        || w.at(5) != "back-rejoin" || w.at(7) != "edge" || w.at(9) != "sim"
        || !readInteger(w.at(2), 1, 1 << 20, &minArea) || !readReal(w.at(4), &p.maxDiff)
        || !readInteger(w.at(6), 0, 1, &backRejoin) || !readReal(w.at(8), &p.edge) || !readReal(w.at(10), &p.sim))
        return refuse(QStringLiteral("expected 'parameters min-area A max-diff D back-rejoin B edge E sim S'"));
    p.minArea = int(minArea);
    p.backRejoin = int(backRejoin);
    if (!checkRegionParameters(p, &fault))
        return false;
    // As the compressed file's reader: what the one accepts the other must.
    if (regionMinSide(p.minArea, result.rootSide) != result.minSide)
        return refuse(QStringLiteral("a min area of %1 does not make the smallest side %2")
                          .arg(p.minArea).arg(result.minSide));
    return true;
}

bool RegionTextReader::readBlocks()
{
    const QList<QByteArray> w = words(4);
    qint64 blockCount;
    if (w.size() != 2 || w.at(0) != "blocks"
        || !readInteger(w.at(1), 1, qint64(result.width) * result.height, &blockCount))
        return refuse(QStringLiteral("expected 'blocks N' with N from 1 to the pixel count"));
    if (m_lines.size() < 5 + blockCount)
        return refuse(QStringLiteral("the file ends after %1 of its %2 blocks; it is truncated")
                          .arg(qMax(0, m_lines.size() - 6)).arg(blockCount));
    for (int index = 0; index < blockCount; ++index)
        if (!readBlock(words(5 + index)))
            return false;
    return true;
}

bool RegionTextReader::readBlock(const QList<QByteArray> &w)
{
    qint64 x, y, side, spacing;
    const QList<QByteArray> size = w.size() > 3 ? w.at(3).split('x') : QList<QByteArray>();
    qint64 blockWidth = 0, blockHeight = 0;
    if (w.size() < 5 || !readInteger(w.at(0), 0, result.width - 1, &x)
        || !readInteger(w.at(1), 0, result.height - 1, &y) || !readInteger(w.at(2), 1, result.rootSide, &side)
        || size.size() != 2 || !readInteger(size.at(0), 1, side, &blockWidth)
        || !readInteger(size.at(1), 1, side, &blockHeight) || !readInteger(w.at(4), 1, side, &spacing)
        || (spacing & (spacing - 1)))
        return refuse(QStringLiteral("expected 'X Y SIDE WxH SPACING Y ... Cb ... Cr ...' inside the image, "
                                     "the spacing a power of two up to the side"));
    RegionBlock block;
    block.x = int(x);
    block.y = int(y);
    block.side = int(side);
    block.width = int(blockWidth);
    block.height = int(blockHeight);
    block.lumaSpacing = int(spacing);
    block.offset = qint64(result.components.size());
    const int chroma = regionChromaSpacing(block.side, block.lumaSpacing);
    int word = 5;
    for (int c = 0; c < 3; ++c)
        if (!readGrid(w, c, c == 0 ? block.lumaSpacing : chroma, block, &word))
            return false;
    if (word != w.size())
        return refuse(QStringLiteral("the line has %1 words after the block's components").arg(w.size() - word));
    result.blocks.append(block);
    return true;
}

// Grid c of a block: its name, then its values, from w[*word] on.
bool RegionTextReader::readGrid(const QList<QByteArray> &w, int c, int spacing, const RegionBlock &block, int *word)
{
    const qint64 count = qint64(regionNodeCount(block.width, spacing)) * regionNodeCount(block.height, spacing);
    if (*word + 1 + count > w.size() || w.at(*word) != gridNames[c])
        return refuse(QStringLiteral("the %1 grid of this block needs %2 values after '%1'")
                          .arg(QLatin1String(gridNames[c])).arg(count));
    for (qint64 k = 0; k < count; ++k) {
        qint64 value;
        const QByteArray &item = w.at(int(*word + 1 + k));
        if (!readInteger(item, -1048575, 1048575, &value))
            return refuse(QStringLiteral("'%1' is not a component from -1048575 to 1048575")
                              .arg(QString::fromLatin1(item)));
        result.components.push_back(int32_t(value));
    }
    *word += int(1 + count);
    return true;
}

bool RegionTextReader::checkEnd()
{
    lineNumber = 0;
    for (int k = 5 + result.blocks.size(); k < m_lines.size(); ++k)
        if (!m_lines.at(k).isEmpty()) {
            lineNumber = k + 1;
            return refuse(QStringLiteral("there is text after the last block"));
        }
    return checkRegionPartition(result, &fault);
}

} // namespace

bool readRegionText(const QByteArray &text, RegionImage *image, QString *error, qint64 maxPixels)
{
    auto refuse = [error](const QString &fault, int lineNumber) {
        if (error)
            *error = lineNumber > 0 ? QStringLiteral("line %1: %2").arg(lineNumber).arg(fault) : fault;
        return false;
    };
    if (!isRegionTextFile(text))
        return refuse(QStringLiteral("it is not a text block file (its first line is not '%1')")
                          .arg(QLatin1String(textMagic)), 0);
    const QList<QByteArray> lines = text.split('\n');
    if (lines.size() < 5)
        return refuse(QStringLiteral("its header lines are missing; the file is truncated"), 0);
    RegionTextReader reader(lines);
    if (!reader.readSize(maxPixels) || !reader.readSteps() || !reader.readParameters() || !reader.readBlocks()
        || !reader.checkEnd())
        return refuse(reader.fault, reader.lineNumber);
    *image = std::move(reader.result);
    return true;
}

} // namespace veltrano
