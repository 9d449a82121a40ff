#include "codec/region/regionencoder.h"

#include "codec/region/gridsimilarity.h"
#include "codec/format/hybridmarker.h"
#include "codec/region/regionexpansion.h"
#include "codec/region/regionfile.h"

#include <cmath>
#include <cstdlib>

namespace veltrano {

namespace {

// The quantiser index of a component: nearest, ties to even, within the
// range the block files hold.
int32_t quantise(float value, float step)
{
    const float index = std::nearbyint(value / step);
    return int32_t(qBound(-1048575.0f, index, 1048575.0f));
}

struct Leaf
{
    int x, y, side, width, height, spacing;
};

class RootEncoder
{
public:
    RootEncoder(const RegionParameters &parameters, const RegionImage &image, const float *planes[3], qint64 stride,
                int rowBase)
        : m_parameters(parameters), m_image(image), m_stride(stride), m_rowBase(rowBase)
    {
        for (int c = 0; c < 3; ++c)
            m_planes[c] = planes[c];
    }

    // Partitions the node; true when it ends as a leaf.
    bool partition(int x, int y, int side, QVector<Leaf> &leaves)
    {
        const int width = qMin(side, m_image.width - x);
        const int height = qMin(side, m_image.height - y);
        if (width <= 0 || height <= 0)
            return false;
        const bool canSplit = side > 1 && side / 2 >= m_image.minSide;
        const double limit = double(m_parameters.maxDiff) * double(m_parameters.maxDiff) * 3.0 * width * height;
        const bool edge = canSplit && m_parameters.edge > 0.0f && hasStrongEdge(x, y, width, height);
        if (!canSplit || (!edge && squaredError(x, y, side, width, height, side) <= limit)) {
            int spacing = side;
            while (spacing > 1 && squaredError(x, y, side, width, height, spacing) > limit)
                spacing /= 2;
            leaves.append(Leaf{x, y, side, width, height, spacing});
            return true;
        }
        const int first = leaves.size();
        const int half = side / 2;
        bool allLeaves = true;
        int children = 0;
        for (int k = 0; k < 4; ++k) {
            const int cx = x + (k & 1) * half;
            const int cy = y + (k >> 1) * half;
            if (cx >= m_image.width || cy >= m_image.height)
                continue;
            ++children;
            allLeaves = partition(cx, cy, half, leaves) && allLeaves;
        }
        if (!m_parameters.backRejoin || edge || !allLeaves || leaves.size() - first != children)
            return false;
        qint64 childCost = 0;
        for (int k = first; k < leaves.size(); ++k)
            childCost += cost(leaves.at(k));
        for (int spacing = half; spacing >= 1; spacing /= 2) {
            const Leaf joint{x, y, side, width, height, spacing};
            if (cost(joint) > childCost)
                break;
            if (squaredError(x, y, side, width, height, spacing) <= limit) {
                leaves.resize(first);
                leaves.append(joint);
                return true;
            }
        }
        return false;
    }

    // The quantised grids of a leaf, Y then Cb then Cr.
    void grids(const Leaf &leaf, int32_t *out) const
    {
        const int chroma = regionChromaSpacing(leaf.side, leaf.spacing);
        for (int c = 0; c < 3; ++c) {
            const int spacing = c == 0 ? leaf.spacing : chroma;
            directRegionGrid(plane(c, leaf.x, leaf.y), m_stride, leaf.width, leaf.height, spacing,
                             c == 0 ? m_image.lumaStep : m_image.chromaStep, out);
            out += regionNodeCount(leaf.width, spacing) * regionNodeCount(leaf.height, spacing);
        }
    }

    static qint64 cost(const Leaf &leaf)
    {
        RegionBlock block;
        block.side = leaf.side;
        block.width = leaf.width;
        block.height = leaf.height;
        block.lumaSpacing = leaf.spacing;
        return regionBlockComponentCount(block);
    }

private:
    const float *plane(int c, int x, int y) const { return m_planes[c] + (y - m_rowBase) * m_stride + x; }

    bool hasStrongEdge(int x, int y, int width, int height) const
    {
        const float threshold = m_parameters.edge;
        for (int row = 0; row < height; ++row) {
            const float *p = plane(0, x, y + row);
            for (int col = 0; col < width; ++col) {
                if (col + 1 < width && std::fabs(p[col + 1] - p[col]) > threshold)
                    return true;
                if (row + 1 < height && std::fabs(p[col + m_stride] - p[col]) > threshold)
                    return true;
            }
        }
        return false;
    }

    double squaredError(int x, int y, int side, int width, int height, int spacing)
    {
        const Leaf leaf{x, y, side, width, height, spacing};
        m_grid.resize(size_t(cost(leaf)));
        grids(leaf, m_grid.data());
        const int chroma = regionChromaSpacing(side, spacing);
        m_expanded.resize(size_t(width) * height);
        const int32_t *grid = m_grid.data();
        double sum = 0.0;
        for (int c = 0; c < 3; ++c) {
            const int s = c == 0 ? spacing : chroma;
            const int nodesX = regionNodeCount(width, s);
            const int nodesY = regionNodeCount(height, s);
            expandRegionGrid(m_kernels, grid, nodesX, nodesY, s, c == 0 ? m_image.lumaStep : m_image.chromaStep,
                             width, height, m_expanded.data(), m_scratch);
            grid += nodesX * nodesY;
            for (int row = 0; row < height; ++row) {
                const float *source = plane(c, x, y + row);
                const float *decoded = m_expanded.data() + size_t(row) * width;
                for (int col = 0; col < width; ++col) {
                    const double d = double(source[col]) - double(decoded[col]);
                    sum += d * d;
                }
            }
        }
        return sum;
    }

    const RegionParameters &m_parameters;
    const RegionImage &m_image;
    const float *m_planes[3];
    qint64 m_stride;
    int m_rowBase;
    RegionKernels m_kernels;
    std::vector<int32_t> m_grid;
    std::vector<float> m_expanded;
    std::vector<float> m_scratch;
};

// Leaves from index `first` on whose grids have the shape of the previous
// leaf's and lie within sim of them become copies of it.
void copySimilarLeaves(RegionImage &image, int first)
{
    static const RegionKernels kernels;
    std::vector<float> a, b;
    for (int k = qMax(first, 1); k < image.blocks.size(); ++k) {
        const RegionBlock &previous = image.blocks.at(k - 1);
        const RegionBlock &block = image.blocks.at(k);
        if (previous.side != block.side || previous.width != block.width || previous.height != block.height
            || previous.lumaSpacing != block.lumaSpacing)
            continue;
        const int chroma = regionChromaSpacing(block.side, block.lumaSpacing);
        const qint64 count = regionBlockComponentCount(block);
        const int lumaCount = regionNodeCount(block.width, block.lumaSpacing) * regionNodeCount(block.height, block.lumaSpacing);
        const int chromaCount = int(count - lumaCount) / 2;
        double sum = 0.0;
        qint64 nodes = 0;
        int start = 0;
        for (int c = 0; c < 3; ++c) {
            const int n = c == 0 ? lumaCount : chromaCount;
            const float step = c == 0 ? image.lumaStep : image.chromaStep;
            a.resize(size_t(n));
            b.resize(size_t(n));
            for (int i = 0; i < n; ++i) {
                a[size_t(i)] = float(image.components[size_t(previous.offset + start + i)]) * step;
                b[size_t(i)] = float(image.components[size_t(block.offset + start + i)]) * step;
            }
            const int spacing = c == 0 ? block.lumaSpacing : chroma;
            componentGridSquaredDifference(kernels, a.data(), spacing, b.data(), spacing, block.width,
                                           block.height, &sum, &nodes);
            start += n;
        }
        if (std::sqrt(sum / double(nodes)) <= double(image.parameters.sim))
            std::copy(image.components.begin() + previous.offset, image.components.begin() + previous.offset + count,
                      image.components.begin() + block.offset);
    }
}

} // namespace

void directRegionGrid(const float *plane, qint64 stride, int width, int height, int spacing, float step,
                      int32_t *grid)
{
    static const RegionKernels kernels;
    const float *weight = kernels.table(spacing);
    const int nodesX = regionNodeCount(width, spacing);
    const int nodesY = regionNodeCount(height, spacing);
    thread_local std::vector<float> rows;
    thread_local std::vector<float> weightsX;
    rows.assign(size_t(height) * nodesX, 0.0f);
    weightsX.assign(size_t(nodesX), 0.0f);
    for (int i = 0; i < nodesX; ++i) {
        const int centre = i * spacing;
        const int from = qMax(0, centre - spacing + 1);
        const int to = qMin(width - 1, centre + spacing - 1);
        float sum = 0.0f;
        for (int x = from; x <= to; ++x)
            sum += weight[std::abs(x - centre)];
        weightsX[size_t(i)] = sum;
        for (int y = 0; y < height; ++y) {
            const float *p = plane + y * stride;
            float acc = 0.0f;
            for (int x = from; x <= to; ++x)
                acc += weight[std::abs(x - centre)] * p[x];
            rows[size_t(y) * nodesX + i] = acc;
        }
    }
    for (int j = 0; j < nodesY; ++j) {
        const int centre = j * spacing;
        const int from = qMax(0, centre - spacing + 1);
        const int to = qMin(height - 1, centre + spacing - 1);
        float weightY = 0.0f;
        for (int y = from; y <= to; ++y)
            weightY += weight[std::abs(y - centre)];
        for (int i = 0; i < nodesX; ++i) {
            float acc = 0.0f;
            for (int y = from; y <= to; ++y)
                acc += weight[std::abs(y - centre)] * rows[size_t(y) * nodesX + i];
            grid[j * nodesX + i] = quantise(acc / (weightsX[size_t(i)] * weightY), step);
        }
    }
}

bool startRegionImage(int width, int height, const RegionParameters &parameters, RegionImage *image, QString *error)
{
    if (!checkRegionParameters(parameters, error))
        return false;
    if (width < 1 || height < 1 || qint64(width) * height > maxDecodedPixels) {
        if (error)
            *error = QStringLiteral("an image of %1x%2 pixels cannot be coded (1 to %3 pixels)")
                         .arg(width).arg(height).arg(maxDecodedPixels);
        return false;
    }
    RegionImage result;
    result.width = width;
    result.height = height;
    result.rootSide = regionRootSide;
    result.minSide = regionMinSide(parameters.minArea, regionRootSide);
    result.lumaStep = lumaStepPerMaxDiff * parameters.maxDiff;
    result.chromaStep = chromaStepFactor * result.lumaStep;
    result.parameters = parameters;
    *image = std::move(result);
    return true;
}

void encodeRegionRootRow(const uint32_t *pixels, qint64 stride, int rowBase, RegionImage *image)
{
    RegionImage &result = *image;
    const int width = result.width;
    const int rootSide = result.rootSide;
    const int rows = qMin(rootSide, result.height - rowBase);
    thread_local std::vector<float> planeData;
    planeData.resize(size_t(width) * rootSide * 3);
    const float *planes[3] = {planeData.data(), planeData.data() + size_t(width) * rootSide,
                              planeData.data() + size_t(width) * rootSide * 2};
    for (int row = 0; row < rows; ++row) {
        const uint32_t *source = pixels + row * stride;
        float *luma = planeData.data() + size_t(row) * width;
        float *cb = luma + size_t(width) * rootSide;
        float *cr = cb + size_t(width) * rootSide;
        for (int x = 0; x < width; ++x) {
            const float r = float((source[x] >> 16) & 0xFF);
            const float g = float((source[x] >> 8) & 0xFF);
            const float b = float(source[x] & 0xFF);
            luma[x] = 0.299f * r + 0.587f * g + 0.114f * b;
            cb[x] = 128.0f - 0.168736f * r - 0.331264f * g + 0.5f * b;
            cr[x] = 128.0f + 0.5f * r - 0.418688f * g - 0.081312f * b;
        }
    }
    const int first = result.blocks.size();
    RootEncoder encoder(result.parameters, result, planes, width, rowBase);
    QVector<Leaf> leaves;
    for (int x = 0; x < width; x += rootSide) {
        leaves.clear();
        encoder.partition(x, rowBase, rootSide, leaves);
        for (const Leaf &leaf : leaves) {
            RegionBlock block;
            block.x = leaf.x;
            block.y = leaf.y;
            block.side = leaf.side;
            block.width = leaf.width;
            block.height = leaf.height;
            block.lumaSpacing = leaf.spacing;
            block.offset = qint64(result.components.size());
            result.components.resize(size_t(block.offset + RootEncoder::cost(leaf)));
            encoder.grids(leaf, result.components.data() + block.offset);
            result.blocks.append(block);
        }
    }
    copySimilarLeaves(result, first);
}

bool encodeRegionImage(const uint32_t *pixels, qint64 stride, int width, int height,
                       const RegionParameters &parameters, RegionImage *image, QString *error)
{
    RegionImage result;
    if (!startRegionImage(width, height, parameters, &result, error))
        return false;
    for (int rowBase = 0; rowBase < height; rowBase += result.rootSide)
        encodeRegionRootRow(pixels + rowBase * stride, stride, rowBase, &result);
    *image = std::move(result);
    return true;
}

bool encodeRegionRows(int width, int height, const RegionParameters &parameters,
                      const std::function<const uint32_t *(int y)> &row,
                      const std::function<bool(const QByteArray &bytes)> &write, QByteArray *header, QString *error)
{
    RegionImage blocks;
    if (!startRegionImage(width, height, parameters, &blocks, error))
        return false;
    RegionFileWriter writer(blocks);
    const int rootSide = blocks.rootSide;
    std::vector<uint32_t> band(size_t(width) * rootSide);
    for (int rowBase = 0; rowBase < height; rowBase += rootSide) {
        const int rows = qMin(rootSide, height - rowBase);
        for (int y = 0; y < rows; ++y) {
            const uint32_t *source = row(rowBase + y);
            if (!source)
                return false;
            std::copy(source, source + width, band.begin() + size_t(y) * width);
        }
        const int first = blocks.blocks.size();
        encodeRegionRootRow(band.data(), width, rowBase, &blocks);
        QByteArray chunk;
        writer.addRow(blocks, first, &chunk);
        if (!chunk.isEmpty() && !write(chunk))
            return false;
        keepLastRegionBlock(&blocks);
    }
    *header = writer.header(writer.blockDataSize());
    return true;
}

} // namespace veltrano
