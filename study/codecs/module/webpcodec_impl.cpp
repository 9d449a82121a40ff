#include "study/codecs/module/webpcodec_impl.h"

#include "study/codecs/anchorimage.h"

#include <webp/decode.h>
#include <webp/encode.h>

namespace veltrano {

namespace moduleimpl {

QByteArray encodeWebp(const QImage &image, int quality, QString *error)
{
    WebPConfig config;
    WebPPicture picture;
    if (!WebPConfigInit(&config) || !WebPPictureInit(&picture)) {
        *error = QStringLiteral("libwebp does not match its headers");
        return QByteArray();
    }
    config.quality = float(quality);
    config.method = 4;
    if (!WebPValidateConfig(&config)) {
        *error = QStringLiteral("WebP quality %1 is not valid").arg(quality);
        return QByteArray();
    }
    QByteArray rgb;
    const QImage colour = image.convertToFormat(QImage::Format_RGB32);
    rgb.resize(colour.width() * colour.height() * 3);
    unsigned char *out = reinterpret_cast<unsigned char *>(rgb.data());
    for (int y = 0; y < colour.height(); ++y) {
        const QRgb *row = reinterpret_cast<const QRgb *>(colour.constScanLine(y));
        for (int x = 0; x < colour.width(); ++x) {
            *out++ = static_cast<unsigned char>(qRed(row[x]));
            *out++ = static_cast<unsigned char>(qGreen(row[x]));
            *out++ = static_cast<unsigned char>(qBlue(row[x]));
        }
    }
    picture.width = colour.width();
    picture.height = colour.height();
    WebPMemoryWriter writer;
    WebPMemoryWriterInit(&writer);
    picture.writer = WebPMemoryWrite;
    picture.custom_ptr = &writer;
    QByteArray data;
    if (!WebPPictureImportRGB(&picture, reinterpret_cast<const uint8_t *>(rgb.constData()), colour.width() * 3)) {
        *error = QStringLiteral("WebP cannot take a picture of %1x%2 pixels").arg(colour.width()).arg(colour.height());
    } else if (!WebPEncode(&config, &picture)) {
        *error = QStringLiteral("WebP encoding at quality %1 failed (error %2)").arg(quality).arg(int(picture.error_code));
    } else {
        data = QByteArray(reinterpret_cast<const char *>(writer.mem), int(writer.size));
    }
    WebPPictureFree(&picture);
    WebPMemoryWriterClear(&writer);
    return data;
}

QImage decodeWebp(const QByteArray &data, QString *error)
{
    int width = 0;
    int height = 0;
    uint8_t *rgb = WebPDecodeRGB(reinterpret_cast<const uint8_t *>(data.constData()), std::size_t(data.size()),
                                 &width, &height);
    if (!rgb) {
        *error = QStringLiteral("the WebP data cannot be decoded");
        return QImage();
    }
    const QImage image = imageFromSamples(rgb, width, height, 3, width * 3);
    WebPFree(rgb);
    if (image.isNull())
        *error = QStringLiteral("the WebP data decode to no image");
    return image;
}

} // namespace moduleimpl

} // namespace veltrano
