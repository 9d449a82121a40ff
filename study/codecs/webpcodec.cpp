#include "study/codecs/webpcodec.h"

#include "study/codecs/module/studycodecs.h"

namespace veltrano {

// libwebp is called in module/webpcodec_impl.cpp, inside the study-codec
// module, loaded at the first use.

QByteArray encodeWebp(const QImage &image, int quality, QString *error)
{
    const StudyCodecTable *codecs = studyCodecs(error);
    return codecs ? codecs->encodeWebp(image, quality, error) : QByteArray();
}

QImage decodeWebp(const QByteArray &data, QString *error)
{
    const StudyCodecTable *codecs = studyCodecs(error);
    return codecs ? codecs->decodeWebp(data, error) : QImage();
}

} // namespace veltrano
