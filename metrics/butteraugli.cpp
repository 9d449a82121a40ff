#include "butteraugli.h"

#include "scanlinesource.h"

#include <jxl/butteraugli.h>

#include <cmath>
#include <memory>
#include <vector>

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

bool fail(QString *errorMessage, const QString &text, ButteraugliDistance *distance)
{
    distance->pNorm3 = distance->max = std::nan("");
    if (errorMessage)
        *errorMessage = text;
    return false;
}

} // namespace

bool butteraugliDistance(const QImage &reference, const QImage &test, ButteraugliDistance *distance,
                         QString *errorMessage)
{
    if (reference.isNull() || test.isNull())
        return fail(errorMessage, QStringLiteral("Butteraugli of a null image"), distance);
    if (reference.size() != test.size())
        return fail(errorMessage, QStringLiteral("Butteraugli of images of different sizes"), distance);
    std::unique_ptr<JxlButteraugliApi, ApiDeleter> api(JxlButteraugliApiCreate(nullptr));
    if (!api)
        return fail(errorMessage, QStringLiteral("libjxl cannot make a Butteraugli instance"), distance);
    JxlButteraugliApiSetIntensityTarget(api.get(), 80.0f);
    const std::vector<uint8_t> a = rgbSamples(reference);
    const std::vector<uint8_t> b = rgbSamples(test);
    const JxlPixelFormat format{3, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
    std::unique_ptr<JxlButteraugliResult, ResultDeleter> result(
        JxlButteraugliCompute(api.get(), uint32_t(reference.width()), uint32_t(reference.height()), &format,
                              a.data(), a.size(), &format, b.data(), b.size()));
    if (!result)
        return fail(errorMessage,
                    QStringLiteral("libjxl cannot compute Butteraugli on %1x%2 pixels")
                        .arg(reference.width())
                        .arg(reference.height()),
                    distance);
    distance->pNorm3 = double(JxlButteraugliResultGetDistance(result.get(), 3.0f));
    distance->max = double(JxlButteraugliResultGetMaxDistance(result.get()));
    return true;
}
