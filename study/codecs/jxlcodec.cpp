#include "study/codecs/jxlcodec.h"

#include "study/codecs/module/studycodecs.h"

#include <algorithm>
#include <cmath>

namespace veltrano {

// libjxl is called in module/jxlcodec_impl.cpp, inside the study-codec
// module, loaded at the first use.

float jxlDistance(int quality)
{
    const float q = float(quality);
    const float distance = q >= 30.0f ? 0.1f + (100.0f - q) * 0.09f
                                      : 6.4f + std::pow(2.5f, (30.0f - q) / 5.0f) / 6.25f;
    return std::min(25.0f, distance);
}

QByteArray encodeJxl(const QImage &image, int quality, QString *error)
{
    const StudyCodecTable *codecs = studyCodecs(error);
    return codecs ? codecs->encodeJxl(image, quality, jxlDistance(quality), error) : QByteArray();
}

QImage decodeJxl(const QByteArray &data, QString *error)
{
    const StudyCodecTable *codecs = studyCodecs(error);
    return codecs ? codecs->decodeJxl(data, error) : QImage();
}

} // namespace veltrano
