#ifndef IMAGEBUFFER_H
#define IMAGEBUFFER_H

#include <QImage>

namespace veltrano {

// A new, uninitialised 32-bit image for a transform to fill. Images of 2 MB
// and more get memory mapped on their own with transparent huge pages
// requested (Linux): touching 96 MB of fresh 4 KB pages costs more than the
// transform itself on virtual machines, 2 MB pages a small fraction of it.
// The image owns the mapping and releases it with its last copy; in every
// other respect it is an ordinary QImage. Elsewhere, and for smaller images,
// it is QImage(width, height, format). Null when the memory cannot be had.
QImage newTransformImage(int width, int height, QImage::Format format);

} // namespace veltrano

#endif // IMAGEBUFFER_H
