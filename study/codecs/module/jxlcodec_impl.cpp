#include "study/codecs/module/jxlcodec_impl.h"

#include "study/codecs/anchorimage.h"

#include <jxl/decode.h>
#include <jxl/encode.h>

#include <memory>
#include <vector>

namespace veltrano {

namespace moduleimpl {

namespace {

struct EncoderDeleter
{
    void operator()(JxlEncoder *encoder) const { JxlEncoderDestroy(encoder); }
};
struct DecoderDeleter
{
    void operator()(JxlDecoder *decoder) const { JxlDecoderDestroy(decoder); }
};

} // namespace

QByteArray encodeJxl(const QImage &image, int quality, float distance, QString *error)
{
    if (quality < 0 || quality > 99) {
        *error = QStringLiteral("JPEG XL quality %1 is outside 0 to 99").arg(quality);
        return QByteArray();
    }
    const AnchorPixels pixels = anchorPixels(image);
    std::unique_ptr<JxlEncoder, EncoderDeleter> encoder(JxlEncoderCreate(nullptr));
    if (!encoder) {
        *error = QStringLiteral("libjxl cannot make an encoder");
        return QByteArray();
    }
    JxlBasicInfo info;
    JxlEncoderInitBasicInfo(&info);
    info.xsize = uint32_t(pixels.width);
    info.ysize = uint32_t(pixels.height);
    info.bits_per_sample = 8;
    info.num_color_channels = uint32_t(pixels.channels);
    info.uses_original_profile = JXL_FALSE;
    JxlColorEncoding colour;
    JxlColorEncodingSetToSRGB(&colour, pixels.channels == 1 ? JXL_TRUE : JXL_FALSE);
    const JxlPixelFormat format{uint32_t(pixels.channels), JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
    JxlEncoderFrameSettings *settings = nullptr;
    if (JxlEncoderSetBasicInfo(encoder.get(), &info) != JXL_ENC_SUCCESS
        || JxlEncoderSetColorEncoding(encoder.get(), &colour) != JXL_ENC_SUCCESS
        || !(settings = JxlEncoderFrameSettingsCreate(encoder.get(), nullptr))
        || JxlEncoderFrameSettingsSetOption(settings, JXL_ENC_FRAME_SETTING_EFFORT, 7) != JXL_ENC_SUCCESS
        || JxlEncoderSetFrameDistance(settings, distance) != JXL_ENC_SUCCESS
        || JxlEncoderAddImageFrame(settings, &format, pixels.samples.constData(), std::size_t(pixels.samples.size()))
               != JXL_ENC_SUCCESS) {
        *error = QStringLiteral("JPEG XL encoding at quality %1 failed to start (error %2)")
                     .arg(quality)
                     .arg(int(JxlEncoderGetError(encoder.get())));
        return QByteArray();
    }
    JxlEncoderCloseInput(encoder.get());
    std::vector<uint8_t> output(4096 + std::size_t(pixels.samples.size()) / 4);
    uint8_t *next = output.data();
    std::size_t available = output.size();
    JxlEncoderStatus status;
    while ((status = JxlEncoderProcessOutput(encoder.get(), &next, &available)) == JXL_ENC_NEED_MORE_OUTPUT) {
        const std::size_t used = std::size_t(next - output.data());
        output.resize(output.size() * 2);
        next = output.data() + used;
        available = output.size() - used;
    }
    if (status != JXL_ENC_SUCCESS) {
        *error = QStringLiteral("JPEG XL encoding at quality %1 failed (error %2)")
                     .arg(quality)
                     .arg(int(JxlEncoderGetError(encoder.get())));
        return QByteArray();
    }
    return QByteArray(reinterpret_cast<const char *>(output.data()), int(next - output.data()));
}

QImage decodeJxl(const QByteArray &data, QString *error)
{
    std::unique_ptr<JxlDecoder, DecoderDeleter> decoder(JxlDecoderCreate(nullptr));
    if (!decoder
        || JxlDecoderSubscribeEvents(decoder.get(), JXL_DEC_BASIC_INFO | JXL_DEC_FULL_IMAGE) != JXL_DEC_SUCCESS
        || JxlDecoderSetInput(decoder.get(), reinterpret_cast<const uint8_t *>(data.constData()),
                              std::size_t(data.size()))
               != JXL_DEC_SUCCESS) {
        *error = QStringLiteral("libjxl cannot make a decoder");
        return QImage();
    }
    JxlDecoderCloseInput(decoder.get());
    JxlBasicInfo info{};
    JxlPixelFormat format{3, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
    std::vector<uint8_t> samples;
    bool haveImage = false;
    for (;;) {
        const JxlDecoderStatus status = JxlDecoderProcessInput(decoder.get());
        if (status == JXL_DEC_BASIC_INFO) {
            if (JxlDecoderGetBasicInfo(decoder.get(), &info) != JXL_DEC_SUCCESS)
                break;
            format.num_channels = info.num_color_channels == 1 ? 1 : 3;
        } else if (status == JXL_DEC_NEED_IMAGE_OUT_BUFFER) {
            std::size_t size = 0;
            if (JxlDecoderImageOutBufferSize(decoder.get(), &format, &size) != JXL_DEC_SUCCESS)
                break;
            samples.resize(size);
            if (JxlDecoderSetImageOutBuffer(decoder.get(), &format, samples.data(), size) != JXL_DEC_SUCCESS)
                break;
        } else if (status == JXL_DEC_FULL_IMAGE) {
            haveImage = true;
        } else if (status == JXL_DEC_SUCCESS) {
            if (!haveImage)
                break;
            const int channels = int(format.num_channels);
            const QImage image = imageFromSamples(samples.data(), int(info.xsize), int(info.ysize), channels,
                                                  int(info.xsize) * channels);
            if (image.isNull())
                break;
            return image;
        } else {
            break;
        }
    }
    *error = QStringLiteral("the JPEG XL data cannot be decoded");
    return QImage();
}

} // namespace moduleimpl

} // namespace veltrano
