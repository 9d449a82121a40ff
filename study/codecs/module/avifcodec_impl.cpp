#include "study/codecs/module/avifcodec_impl.h"

#include "study/codecs/anchorimage.h"

#include <avif/avif.h>

#include <memory>

namespace veltrano {

namespace moduleimpl {

namespace {

struct EncoderDeleter
{
    void operator()(avifEncoder *encoder) const { avifEncoderDestroy(encoder); }
};
struct DecoderDeleter
{
    void operator()(avifDecoder *decoder) const { avifDecoderDestroy(decoder); }
};
struct ImageDeleter
{
    void operator()(avifImage *image) const { avifImageDestroy(image); }
};

QString resultText(avifResult result)
{
    return QString::fromUtf8(avifResultToString(result));
}

} // namespace

QByteArray encodeAvif(const QImage &image, int quality, int quantizer, QString *error)
{
    if (!avifCodecName(AVIF_CODEC_CHOICE_AOM, AVIF_CODEC_FLAG_CAN_ENCODE)) {
        *error = QStringLiteral("libavif has no aom encoder");
        return QByteArray();
    }
    const AnchorPixels pixels = anchorPixels(image);
    const bool grey = pixels.channels == 1;
    std::unique_ptr<avifImage, ImageDeleter> yuv(avifImageCreate(uint32_t(pixels.width), uint32_t(pixels.height), 8,
                                                                 grey ? AVIF_PIXEL_FORMAT_YUV400
                                                                      : AVIF_PIXEL_FORMAT_YUV420));
    if (!yuv) {
        *error = QStringLiteral("libavif cannot make an image of %1x%2 pixels").arg(pixels.width).arg(pixels.height);
        return QByteArray();
    }
    yuv->yuvRange = AVIF_RANGE_FULL;
    yuv->colorPrimaries = AVIF_COLOR_PRIMARIES_BT709;
    yuv->transferCharacteristics = AVIF_TRANSFER_CHARACTERISTICS_SRGB;
    yuv->matrixCoefficients = AVIF_MATRIX_COEFFICIENTS_BT601;

    // The RGB samples; a grey image's sample is repeated in all three.
    QByteArray rgb;
    rgb.resize(pixels.width * pixels.height * 3);
    for (int i = 0; i < pixels.width * pixels.height; ++i)
        for (int c = 0; c < 3; ++c)
            rgb[3 * i + c] = pixels.samples[grey ? i : 3 * i + c];
    avifRGBImage source;
    avifRGBImageSetDefaults(&source, yuv.get());
    source.format = AVIF_RGB_FORMAT_RGB;
    source.depth = 8;
    source.pixels = reinterpret_cast<uint8_t *>(rgb.data());
    source.rowBytes = uint32_t(pixels.width * 3);
    avifResult result = avifImageRGBToYUV(yuv.get(), &source);
    if (result != AVIF_RESULT_OK) {
        *error = QStringLiteral("libavif cannot convert to YUV: %1").arg(resultText(result));
        return QByteArray();
    }

    std::unique_ptr<avifEncoder, EncoderDeleter> encoder(avifEncoderCreate());
    if (!encoder) {
        *error = QStringLiteral("libavif cannot make an encoder");
        return QByteArray();
    }
    encoder->codecChoice = AVIF_CODEC_CHOICE_AOM;
    encoder->speed = 6;
    encoder->maxThreads = 1;
    encoder->minQuantizer = encoder->maxQuantizer = quantizer;
    avifRWData output = AVIF_DATA_EMPTY;
    result = avifEncoderWrite(encoder.get(), yuv.get(), &output);
    QByteArray data;
    if (result == AVIF_RESULT_OK)
        data = QByteArray(reinterpret_cast<const char *>(output.data), int(output.size));
    else
        *error = QStringLiteral("AVIF encoding at quality %1 failed: %2").arg(quality).arg(resultText(result));
    avifRWDataFree(&output);
    return data;
}

QImage decodeAvif(const QByteArray &data, QString *error)
{
    std::unique_ptr<avifDecoder, DecoderDeleter> decoder(avifDecoderCreate());
    std::unique_ptr<avifImage, ImageDeleter> yuv(avifImageCreateEmpty());
    if (!decoder || !yuv) {
        *error = QStringLiteral("libavif cannot make a decoder");
        return QImage();
    }
    decoder->maxThreads = 1;
    avifResult result = avifDecoderReadMemory(decoder.get(), yuv.get(),
                                              reinterpret_cast<const uint8_t *>(data.constData()),
                                              std::size_t(data.size()));
    if (result != AVIF_RESULT_OK) {
        *error = QStringLiteral("the AVIF data cannot be decoded: %1").arg(resultText(result));
        return QImage();
    }
    avifRGBImage rgb;
    avifRGBImageSetDefaults(&rgb, yuv.get());
    rgb.format = AVIF_RGB_FORMAT_RGB;
    rgb.depth = 8;
    avifRGBImageAllocatePixels(&rgb);
    result = avifImageYUVToRGB(yuv.get(), &rgb);
    QImage image;
    if (result != AVIF_RESULT_OK) {
        *error = QStringLiteral("the AVIF image cannot be converted to RGB: %1").arg(resultText(result));
    } else {
        image = imageFromSamples(rgb.pixels, int(rgb.width), int(rgb.height), 3, int(rgb.rowBytes));
        if (!image.isNull() && yuv->yuvFormat == AVIF_PIXEL_FORMAT_YUV400)
            image = image.convertToFormat(QImage::Format_Grayscale8);
        if (image.isNull())
            *error = QStringLiteral("the AVIF data decode to no image");
    }
    avifRGBImageFreePixels(&rgb);
    return image;
}

} // namespace moduleimpl

} // namespace veltrano
