#include "codec/region/regionexpansion.h"

#include "codec/transform/kernel.h"

#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace veltrano {

RegionKernels::RegionKernels()
{
    constexpr int rowLength = 1 << maxLevel;
    for (int level = 0; level <= maxLevel; ++level) {
        const int spacing = 1 << level;
        const QList<float> kernel = makeRaisedCosineKernel(spacing);
        m_tables[level].assign(kernel.cbegin(), kernel.cend());
        m_left[level].resize(rowLength);
        m_right[level].resize(rowLength);
        for (int x = 0; x < rowLength; ++x) {
            m_left[level][size_t(x)] = kernel.at(x % spacing);
            m_right[level][size_t(x)] = kernel.at(spacing - x % spacing);
        }
    }
}

namespace {

// Scratch only grows: shrinking and growing again would clear the new part
// on every block.
template <class T>
inline T *scratchOf(std::vector<T> &buffer, size_t size)
{
    if (buffer.size() < size)
        buffer.resize(size);
    return buffer.data();
}

// Quantiser indexes as values, float(index) * step, four a step.
inline void dequantise(const int32_t *grid, int count, float step, float *out)
{
    int i = 0;
#ifdef __SSE2__
    const __m128 scale = _mm_set1_ps(step);
    for (; i + 4 <= count; i += 4) {
        const __m128i value = _mm_loadu_si128(reinterpret_cast<const __m128i *>(grid + i));
        _mm_storeu_ps(out + i, _mm_mul_ps(_mm_cvtepi32_ps(value), scale));
    }
#endif
    for (; i < count; ++i)
        out[i] = float(grid[i]) * step;
}

// A node row as values, with the last node repeated once.
inline void dequantiseNodeRow(const int32_t *source, int nodesX, float step, float *target)
{
    dequantise(source, nodesX, step, target);
    target[nodesX] = target[nodesX - 1];
}

// The expansion along x of one node row: every pixel from the two nodes
// around it, with per-pixel weights, so that the loop runs the same for
// every spacing and short blocks.
inline void expandNodeRow(const float *node, const float *left, const float *right, int level, int width, float *row)
{
    int x = 0;
#ifdef __SSE2__
    // Four pixels a step: past spacing 2 they lie between the same two
    // nodes, at spacing 2 between nodes i, i + 1 and i + 1, i + 2.
    if (level >= 2) {
        for (; x + 4 <= width; x += 4) {
            const int i = x >> level;
            _mm_storeu_ps(row + x, _mm_add_ps(_mm_mul_ps(_mm_loadu_ps(left + x), _mm_set1_ps(node[i])),
                                              _mm_mul_ps(_mm_loadu_ps(right + x), _mm_set1_ps(node[i + 1]))));
        }
    } else {
        for (; x + 4 <= width; x += 4) {
            const float *n = node + (x >> 1);
            const __m128 first = _mm_setr_ps(n[0], n[0], n[1], n[1]);
            const __m128 second = _mm_setr_ps(n[1], n[1], n[2], n[2]);
            _mm_storeu_ps(row + x, _mm_add_ps(_mm_mul_ps(_mm_loadu_ps(left + x), first),
                                              _mm_mul_ps(_mm_loadu_ps(right + x), second)));
        }
    }
#endif
    for (; x < width; ++x) {
        const int i = x >> level;
        row[x] = left[x] * node[i] + right[x] * node[i + 1];
    }
}

// target = upper * top + lower * bottom, pixel by pixel.
inline void blendRows(float upper, const float *top, float lower, const float *bottom, int width, float *target)
{
    int x = 0;
#ifdef __SSE2__
    const __m128 up = _mm_set1_ps(upper);
    const __m128 down = _mm_set1_ps(lower);
    for (; x + 4 <= width; x += 4)
        _mm_storeu_ps(target + x, _mm_add_ps(_mm_mul_ps(up, _mm_loadu_ps(top + x)),
                                             _mm_mul_ps(down, _mm_loadu_ps(bottom + x))));
#endif
    for (; x < width; ++x)
        target[x] = upper * top[x] + lower * bottom[x];
}

} // namespace

void expandRegionGrid(const RegionKernels &kernels, const int32_t *grid, int nodesX, int nodesY, int spacing,
                      float step, int width, int height, float *out, std::vector<float> &scratch)
{
    if (spacing == 1) {
        // Every pixel is its node: A[0] = 1 times it plus A[1] = 0 times the
        // next, exactly the node's value (up to the sign of a zero, which no
        // later step can tell).
        dequantise(grid, width * height, step, out);
        return;
    }
    const int level = RegionKernels::levelOf(spacing);
    const float *weight = kernels.table(spacing);
    const float *left = kernels.leftWeights(spacing);
    const float *right = kernels.rightWeights(spacing);
    // One node row as values, then the expansion along x of every node row
    // the pixels need (the one past the last repeats the last).
    const int usedRows = qMin(nodesY, ((height - 1) >> level) + 2);
    float *nodes = scratchOf(scratch, size_t(nodesX) + 1 + size_t(usedRows) * width);
    float *rows = nodes + nodesX + 1;
    for (int j = 0; j < usedRows; ++j) {
        dequantiseNodeRow(grid + size_t(j) * nodesX, nodesX, step, nodes);
        expandNodeRow(nodes, left, right, level, width, rows + size_t(j) * width);
    }
    for (int y = 0; y < height; ++y) {
        const int j = y >> level;
        const int dy = y - (j << level);
        const float upper = weight[dy];
        const float lower = weight[spacing - dy];
        const float *top = rows + size_t(j) * width;
        const float *bottom = j + 1 < usedRows ? top + width : top;
        blendRows(upper, top, lower, bottom, width, out + size_t(y) * width);
    }
}

namespace {

// One channel: clamped first, so the sum is 0.5 .. 255.5 and truncates as a
// signed word.
inline uint32_t colourChannel(float value)
{
    value = value < 0.0f ? 0.0f : value;
    value = value > 255.0f ? 255.0f : value;
    return uint32_t(int32_t(value + 0.5f));
}

#ifdef __SSE2__
// The same four pixels a step: max and min with 0 and 255 clamp as above
// (a -0 becomes +0, which rounds alike), the truncation is cvttps.
inline __m128i colourChannels(__m128 value)
{
    value = _mm_min_ps(_mm_max_ps(value, _mm_setzero_ps()), _mm_set1_ps(255.0f));
    return _mm_cvttps_epi32(_mm_add_ps(value, _mm_set1_ps(0.5f)));
}
#endif

} // namespace

void convertRegionColours(const float *luma, const float *cb, const float *cr, int count, uint32_t *pixels)
{
    int k = 0;
#ifdef __SSE2__
    const __m128 centre = _mm_set1_ps(128.0f);
    for (; k + 4 <= count; k += 4) {
        const __m128 y = _mm_loadu_ps(luma + k);
        const __m128 u = _mm_sub_ps(_mm_loadu_ps(cb + k), centre);
        const __m128 v = _mm_sub_ps(_mm_loadu_ps(cr + k), centre);
        const __m128 red = _mm_add_ps(y, _mm_mul_ps(_mm_set1_ps(1.402f), v));
        const __m128 green = _mm_sub_ps(_mm_sub_ps(y, _mm_mul_ps(_mm_set1_ps(0.344136f), u)),
                                        _mm_mul_ps(_mm_set1_ps(0.714136f), v));
        const __m128 blue = _mm_add_ps(y, _mm_mul_ps(_mm_set1_ps(1.772f), u));
        const __m128i word = _mm_or_si128(
            _mm_or_si128(_mm_slli_epi32(colourChannels(red), 16), _mm_slli_epi32(colourChannels(green), 8)),
            _mm_or_si128(colourChannels(blue), _mm_set1_epi32(int(0xFF000000u))));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(pixels + k), word);
    }
#endif
    for (; k < count; ++k) {
        const float y = luma[k];
        const float u = cb[k] - 128.0f;
        const float v = cr[k] - 128.0f;
        const float red = y + 1.402f * v;
        const float green = y - 0.344136f * u - 0.714136f * v;
        const float blue = y + 1.772f * u;
        pixels[k] = 0xFF000000u | (colourChannel(red) << 16) | (colourChannel(green) << 8) | colourChannel(blue);
    }
}

void expandRegionImage(const RegionImage &image, uint32_t *pixels, qint64 stride)
{
    expandRegionBlocks(image, 0, pixels, stride);
}

void expandRegionBlocks(const RegionImage &image, int first, uint32_t *pixels, qint64 stride, int firstRow)
{
    static const RegionKernels kernels;
    thread_local std::vector<float> scratch;
    thread_local std::vector<float> planes;
    thread_local std::vector<uint32_t> words;
    for (int index = first; index < image.blocks.size(); ++index) {
        const RegionBlock &block = image.blocks.at(index);
        const int count = block.width * block.height;
        float *luma = scratchOf(planes, size_t(count) * 3);
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
        uint32_t *target = pixels + (block.y - firstRow) * stride + block.x;
        if (block.width % 4 == 0) {
            // Rows of whole four-pixel steps go straight to the image.
            for (int y = 0; y < block.height; ++y)
                convertRegionColours(luma + y * block.width, cb + y * block.width, cr + y * block.width,
                                     block.width, target + y * stride);
            continue;
        }
        // Other blocks are converted as one run, so that short rows do not
        // leave the four-pixel steps idle, then laid row by row.
        uint32_t *converted = scratchOf(words, size_t(count));
        convertRegionColours(luma, cb, cr, count, converted);
        for (int y = 0; y < block.height; ++y)
            std::memcpy(target + y * stride, converted + y * block.width, size_t(block.width) * sizeof(uint32_t));
    }
}

} // namespace veltrano
