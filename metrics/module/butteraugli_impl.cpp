#include "metrics/module/butteraugli_impl.h"

#include "codec/qimage/scanlinesource.h"

#include <jxl/butteraugli.h>

#include <cmath>
#include <memory>
#include <vector>

namespace veltrano {

namespace moduleimpl {

namespace {

struct ApiDeleter
{
    void operator()(JxlButteraugliApi *api) const { JxlButteraugliApiDestroy(api); }
};
struct ResultDeleter
{
    void operator()(JxlButteraugliResult *result) const { JxlButteraugliResultDestroy(result); }
};

std::vector<uint8_t> rgbSamples(const QImage &image)
{
    std::vector<uint8_t> samples(std::size_t(image.width()) * image.height() * 3);
    ScanLineSource source(image);
    for (int y = 0; y < image.height(); ++y) {
        const QRgb *row = source.row(y);
        uint8_t *out = &samples[std::size_t(y) * image.width() * 3];
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = row[x];
            *out++ = uint8_t(qRed(p));
            *out++ = uint8_t(qGreen(p));
            *out++ = uint8_t(qBlue(p));
        }
    }
    return samples;
}

bool fail(QString *error, const QString &text, double *pNorm3, double *max)
{
    *pNorm3 = *max = std::nan("");
    *error = text;
    return false;
}

} // namespace

bool butteraugliDistance(const QImage &reference, const QImage &test, double *pNorm3, double *max,
                         QString *error)
{
    if (reference.isNull() || test.isNull())
        return fail(error, QStringLiteral("Butteraugli of a null image"), pNorm3, max);
    if (reference.size() != test.size())
        return fail(error, QStringLiteral("Butteraugli of images of different sizes"), pNorm3, max);
    std::unique_ptr<JxlButteraugliApi, ApiDeleter> api(JxlButteraugliApiCreate(nullptr));
    if (!api)
        return fail(error, QStringLiteral("libjxl cannot make a Butteraugli instance"), pNorm3, max);
    JxlButteraugliApiSetIntensityTarget(api.get(), 80.0f);
    const std::vector<uint8_t> a = rgbSamples(reference);
    const std::vector<uint8_t> b = rgbSamples(test);
    const JxlPixelFormat format{3, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
    std::unique_ptr<JxlButteraugliResult, ResultDeleter> result(
        JxlButteraugliCompute(api.get(), uint32_t(reference.width()), uint32_t(reference.height()), &format,
                              a.data(), a.size(), &format, b.data(), b.size()));
    if (!result)
        return fail(error,
                    QStringLiteral("libjxl cannot compute Butteraugli on %1x%2 pixels")
                        .arg(reference.width())
                        .arg(reference.height()),
                    pNorm3, max);
    *pNorm3 = double(JxlButteraugliResultGetDistance(result.get(), 3.0f));
    *max = double(JxlButteraugliResultGetMaxDistance(result.get()));
    return true;
}

} // namespace moduleimpl

} // namespace veltrano
