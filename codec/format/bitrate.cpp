#include "codec/format/bitrate.h"

#include <limits>

namespace veltrano {

double bitsPerPixel(qint64 bytes, qint64 pixels, BitRateDivision division)
{
    const float bits = static_cast<float>(bytes * 8);
    if (pixels <= 0)
        return bits > 0.0f ? std::numeric_limits<double>::infinity() : std::numeric_limits<double>::quiet_NaN();
    if (division == BitRateDivision::Single)
        return static_cast<double>(bits / static_cast<float>(pixels));
    return static_cast<double>(bits) / static_cast<double>(pixels);
}

} // namespace veltrano
