#include "study/codecs/avifcodec.h"

#include "study/codecs/module/studycodecs.h"

#include <algorithm>

namespace veltrano {

// libavif is called in module/avifcodec_impl.cpp, inside the study-codec
// module, loaded at the first use.

int avifQuantizer(int quality)
{
    quality = std::min(100, std::max(0, quality));
    return ((100 - quality) * 63 + 50) / 100;
}

QByteArray encodeAvif(const QImage &image, int quality, QString *error)
{
    const StudyCodecTable *codecs = studyCodecs(error);
    return codecs ? codecs->encodeAvif(image, quality, avifQuantizer(quality), error) : QByteArray();
}

QImage decodeAvif(const QByteArray &data, QString *error)
{
    const StudyCodecTable *codecs = studyCodecs(error);
    return codecs ? codecs->decodeAvif(data, error) : QImage();
}

} // namespace veltrano
