#include "codec/region/regionexpansion.h"

#include "codec/transform/kernel.h"

RegionKernels::RegionKernels()
{
    for (int level = 0; level < 11; ++level) {
        const QList<float> kernel = makeRaisedCosineKernel(1 << level);
        m_tables[level].assign(kernel.cbegin(), kernel.cend());
    }
}

const float *RegionKernels::table(int spacing) const
{
    int level = 0;
    while ((1 << level) < spacing)
        ++level;
    return m_tables[level].data();
}

void expandRegionGrid(const RegionKernels &kernels, const int32_t *grid, int nodesX, int nodesY, int spacing,
                      float step, int width, int height, float *out, std::vector<float> &scratch)
{
    if (spacing == 1) {
        // Every pixel is its node: A[0] = 1 times it plus A[1] = 0 times the
        // next, exactly the node's value (up to the sign of a zero, which no
        // later step can tell).
        for (int i = 0; i < width * height; ++i)
            out[i] = float(grid[i]) * step;
        return;
    }
    const float *weight = kernels.table(spacing);
    // Node values with the last column and row repeated once, then the
    // expansion along x of every node row.
    const int paddedX = nodesX + 1;
    const int paddedY = nodesY + 1;
    scratch.resize(size_t(paddedX) * paddedY + size_t(paddedY) * width);
    float *nodes = scratch.data();
    float *rows = nodes + size_t(paddedX) * paddedY;
    for (int j = 0; j < paddedY; ++j) {
        const int32_t *source = grid + size_t(qMin(j, nodesY - 1)) * nodesX;
        float *target = nodes + size_t(j) * paddedX;
        for (int i = 0; i < nodesX; ++i)
            target[i] = float(source[i]) * step;
        target[nodesX] = target[nodesX - 1];
    }
    for (int j = 0; j < paddedY; ++j) {
        const float *node = nodes + size_t(j) * paddedX;
        float *row = rows + size_t(j) * width;
        for (int x0 = 0, i = 0; x0 < width; x0 += spacing, ++i) {
            const int end = qMin(width - x0, spacing);
            const float left = node[i];
            const float right = node[i + 1];
            for (int dx = 0; dx < end; ++dx)
                row[x0 + dx] = weight[dx] * left + weight[spacing - dx] * right;
        }
    }
    for (int y = 0; y < height; ++y) {
        const int j = y / spacing;
        const int dy = y - j * spacing;
        const float upper = weight[dy];
        const float lower = weight[spacing - dy];
        const float *top = rows + size_t(j) * width;
        const float *bottom = top + width;
        float *target = out + size_t(y) * width;
        for (int x = 0; x < width; ++x)
            target[x] = upper * top[x] + lower * bottom[x];
    }
}

void convertRegionColours(const float *luma, const float *cb, const float *cr, int count, uint32_t *pixels)
{
    auto channel = [](float value) -> uint32_t {
        value = value < 0.0f ? 0.0f : (value > 255.0f ? 255.0f : value);
        return uint32_t(value + 0.5f);
    };
    for (int k = 0; k < count; ++k) {
        const float y = luma[k];
        const float u = cb[k] - 128.0f;
        const float v = cr[k] - 128.0f;
        const float red = y + 1.402f * v;
        const float green = y - 0.344136f * u - 0.714136f * v;
        const float blue = y + 1.772f * u;
        pixels[k] = 0xFF000000u | (channel(red) << 16) | (channel(green) << 8) | channel(blue);
    }
}

void expandRegionImage(const RegionImage &image, uint32_t *pixels, qint64 stride)
{
    expandRegionBlocks(image, 0, pixels, stride);
}

void expandRegionBlocks(const RegionImage &image, int first, uint32_t *pixels, qint64 stride)
{
    static const RegionKernels kernels;
    thread_local std::vector<float> scratch;
    thread_local std::vector<float> planes;
    for (int index = first; index < image.blocks.size(); ++index) {
        const RegionBlock &block = image.blocks.at(index);
        const int count = block.width * block.height;
        planes.resize(size_t(count) * 3);
        float *luma = planes.data();
        float *cb = luma + count;
        float *cr = cb + count;
        const int chroma = regionChromaSpacing(block.side, block.lumaSpacing);
        const int lumaX = regionNodeCount(block.width, block.lumaSpacing);
        const int lumaY = regionNodeCount(block.height, block.lumaSpacing);
        const int chromaX = regionNodeCount(block.width, chroma);
        const int chromaY = regionNodeCount(block.height, chroma);
        const int32_t *grid = image.components.data() + block.offset;
        expandRegionGrid(kernels, grid, lumaX, lumaY, block.lumaSpacing, image.lumaStep, block.width, block.height,
                         luma, scratch);
        grid += lumaX * lumaY;
        expandRegionGrid(kernels, grid, chromaX, chromaY, chroma, image.chromaStep, block.width, block.height, cb,
                         scratch);
        grid += chromaX * chromaY;
        expandRegionGrid(kernels, grid, chromaX, chromaY, chroma, image.chromaStep, block.width, block.height, cr,
                         scratch);
        for (int y = 0; y < block.height; ++y)
            convertRegionColours(luma + y * block.width, cb + y * block.width, cr + y * block.width, block.width,
                                 pixels + (block.y + y) * stride + block.x);
    }
}
