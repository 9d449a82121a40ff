#include "codec/qimage/imagebuffer.h"

#if defined(__linux__)
#include <sys/mman.h>

#include <climits>
#include <cstdint>
#endif

namespace veltrano {

namespace {

#if defined(__linux__)
constexpr std::size_t hugePage = std::size_t(2) << 20;
// Smaller images come from the allocator; from one huge page on, a mapping
// wastes at most one huge page in rounding.
constexpr std::size_t smallestMapped = hugePage;

struct Mapping
{
    void *address;
    std::size_t length;
};

void unmap(void *info)
{
    const Mapping *mapping = static_cast<const Mapping *>(info);
    munmap(mapping->address, mapping->length);
    delete mapping;
}

QImage mappedImage(int width, int height, QImage::Format format)
{
    const qsizetype bytesPerLine = qsizetype(width) * 4;
    const std::size_t bytes = std::size_t(bytesPerLine) * std::size_t(height);
    if (bytes < smallestMapped || bytesPerLine > qsizetype(INT_MAX))
        return QImage(width, height, format);
    // Map one huge page more than needed and keep the aligned middle, so the
    // kernel can back all of it with huge pages.
    const std::size_t length = (bytes + hugePage - 1) / hugePage * hugePage;
    void *raw = mmap(nullptr, length + hugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED)
        return QImage(width, height, format);
    const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(raw);
    const std::uintptr_t aligned = (start + hugePage - 1) / hugePage * hugePage;
    if (aligned > start)
        munmap(raw, aligned - start);
    if (start + length + hugePage > aligned + length)
        munmap(reinterpret_cast<void *>(aligned + length), start + length + hugePage - (aligned + length));
    void *address = reinterpret_cast<void *>(aligned);
    madvise(address, length, MADV_HUGEPAGE);
    Mapping *mapping = new Mapping{address, length};
    QImage image(static_cast<uchar *>(address), width, height, int(bytesPerLine), format, &unmap, mapping);
    if (image.isNull())
        unmap(mapping);
    return image;
}
#endif

} // namespace

QImage newTransformImage(int width, int height, QImage::Format format)
{
    if (width < 1 || height < 1 || QImage::toPixelFormat(format).bitsPerPixel() != 32)
        return QImage(width, height, format);
#if defined(__linux__)
    return mappedImage(width, height, format);
#else
    return QImage(width, height, format);
#endif
}

} // namespace veltrano
