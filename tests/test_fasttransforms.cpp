// The scan-line, vectorised transforms against the slow per-pixel reference,
// on every code path this processor runs (scalar, SSE2, AVX2), for real
// photographs of odd and even sizes, grey, indexed and premultiplied inputs,
// and kernels and weights that take the exact row/column pass and the
// general per-node order.

#include "codec/dsp/cpufeatures.h"
#include "codec/qimage/directtransform.h"
#include "codec/qimage/imagebuffer.h"
#include "codec/qimage/inversetransform.h"
#include "codec/transform/kernel.h"
#include "referencetransforms.h"
#include "codec/qimage/scanlinesource.h"
#include "testsupport.h"

#include <QBuffer>
#include <QtTest>

#include <algorithm>
#include <cmath>
#include <functional>

using namespace veltrano;

Q_DECLARE_METATYPE(QList<float>)

namespace {

QList<SimdLevel> supportedLevels()
{
    QList<SimdLevel> levels;
    for (SimdLevel level : {SimdLevel::Scalar, SimdLevel::Sse2, SimdLevel::Avx2})
        if (simdLevelSupported(level))
            levels.append(level);
    return levels;
}

// Runs work once on each supported code path; the transforms' own choice is
// restored afterwards, also when a check fails.
class LevelGuard
{
public:
    LevelGuard()
        : saved(transformSimdLevel())
    {
    }
    ~LevelGuard() { setTransformSimdLevel(saved); }

private:
    SimdLevel saved;
};

QString levelTag(SimdLevel level)
{
    return QString::fromLatin1(simdLevelName(level));
}

// A photograph crop at the given place and size, in its own format.
QImage crop(const QString &photo, int x, int y, int width, int height)
{
    const QImage image = loadPhoto(photo);
    return image.isNull() ? image : image.copy(x, y, width, height);
}

// The crop with alpha varying across it, stored premultiplied: pixel()
// returns such words as stored, so the colour channels the transforms see
// are the premultiplied ones.
QImage premultipliedCrop(int width, int height)
{
    QImage image = crop(QStringLiteral("astronaut.png"), 100, 140, width, height).convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, (image.pixel(x, y) & 0xFFFFFFu) | (uint((x * 29 + y * 13 + 40) & 0xFF) << 24));
    return image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

// Weights that are not short binary fractions, so products and sums round.
QList<float> roundingWeights(int count)
{
    QList<float> weights;
    for (int i = 0; i < count; ++i)
        weights.append(float(1.0 / (1.0 + 0.37 * i)));
    return weights;
}

// Weights of both signs: sums leave 0 .. 255 and some weight sums vanish.
QList<float> mixedSignWeights(int count)
{
    QList<float> weights;
    for (int i = 0; i < count; ++i)
        weights.append(i % 3 == 2 ? -0.8125f * float(i) : float(std::cos(0.45 * i)));
    return weights;
}

QString compareOnEveryLevel(const std::function<QImage()> &fast, const QImage &expected)
{
    LevelGuard guard;
    for (SimdLevel level : supportedLevels()) {
        if (setTransformSimdLevel(level) != level)
            return QStringLiteral("cannot select %1").arg(levelTag(level));
        const QImage actual = fast();
        const QString difference = firstPixelDifference(actual, expected);
        if (!difference.isEmpty())
            return levelTag(level) + QStringLiteral(": ") + difference;
    }
    return QString();
}

} // namespace

class TestFastTransforms : public QObject
{
    Q_OBJECT

private slots:
    void levelSelection();
    void rowsReadAsPixelDoes_data();
    void rowsReadAsPixelDoes();
    void directMatchesReference_data();
    void directMatchesReference();
    void directCustomKernels_data();
    void directCustomKernels();
    void directWholePhotographs();
    void inverseMatchesReference_data();
    void inverseMatchesReference();
    void inverseOfHybridComponents();
    void pathsAgreeOnLargerImage();
    void largeImagesOwnTheirMemory();
    void largeInverseMatchesReference();
};

void TestFastTransforms::levelSelection()
{
    LevelGuard guard;
    QVERIFY(simdLevelSupported(SimdLevel::Scalar));
    QVERIFY(simdLevelSupported(detectedSimdLevel()));
#if defined(__x86_64__)
    QVERIFY(simdLevelSupported(SimdLevel::Sse2));
    QCOMPARE(simdLevelSupported(SimdLevel::Avx2), bool(__builtin_cpu_supports("avx2")));
#endif
    for (SimdLevel level : supportedLevels()) {
        QCOMPARE(setTransformSimdLevel(level), level);
        QCOMPARE(transformSimdLevel(), level);
    }
    if (!simdLevelSupported(SimdLevel::Avx2))
        QCOMPARE(setTransformSimdLevel(SimdLevel::Avx2), detectedSimdLevel());
    QCOMPARE(QString::fromLatin1(simdLevelName(SimdLevel::Sse2)), QStringLiteral("sse2"));
}

void TestFastTransforms::rowsReadAsPixelDoes_data()
{
    QTest::addColumn<QImage>("image");
    // Every format Qt has, made from a translucent photograph crop of odd
    // width, so that premultiplied and alpha-less formats differ.
    QImage base = crop(QStringLiteral("chelsea.png"), 120, 80, 37, 9).convertToFormat(QImage::Format_ARGB32);
    QVERIFY(!base.isNull());
    for (int y = 0; y < base.height(); ++y)
        for (int x = 0; x < base.width(); ++x)
            base.setPixel(x, y, (base.pixel(x, y) & 0xFFFFFFu) | (uint((x * 53 + y * 7) & 0xFF) << 24));
    for (int f = QImage::Format_Mono; f < QImage::NImageFormats; ++f) {
        const QImage converted = base.convertToFormat(QImage::Format(f));
        if (converted.isNull() || converted.format() != QImage::Format(f))
            continue;
        QTest::addRow("format %d", f) << converted;
    }
    // Indexes beyond the colour table: pixel() gives 0 for them.
    QImage indexed(5, 2, QImage::Format_Indexed8);
    indexed.setColorTable({qRgb(10, 20, 30), qRgba(200, 100, 50, 7)});
    const uchar indexes[] = {0, 1, 2, 255, 1};
    for (int y = 0; y < 2; ++y)
        std::copy(indexes, indexes + 5, indexed.scanLine(y));
    QTest::newRow("indexed beyond the table") << indexed;
}

void TestFastTransforms::rowsReadAsPixelDoes()
{
    QFETCH(QImage, image);
    ScanLineSource source(image);
    QCOMPARE(source.width(), image.width());
    QCOMPARE(source.height(), image.height());
    // Rows in an order that reuses the one row buffer.
    for (int y : {image.height() - 1, 0, image.height() / 2}) {
        const QRgb *row = source.row(y);
        for (int x = 0; x < image.width(); ++x) {
            const QRgb expected = image.pixel(x, y);
            if ((row[x] & 0xFFFFFFu) != (expected & 0xFFFFFFu))
                QFAIL(qPrintable(QStringLiteral("(%1, %2): 0x%3 instead of 0x%4")
                                     .arg(x)
                                     .arg(y)
                                     .arg(row[x], 8, 16, QLatin1Char('0'))
                                     .arg(expected, 8, 16, QLatin1Char('0'))));
        }
    }
}

void TestFastTransforms::directMatchesReference_data()
{
    QTest::addColumn<QImage>("image");
    QTest::addColumn<int>("step");
    QTest::addColumn<int>("radius");

    const QList<QPair<QString, QImage>> images = {
        {QStringLiteral("chelsea 131x67"), crop(QStringLiteral("chelsea.png"), 180, 90, 131, 67)},
        {QStringLiteral("chelsea 128x64"), crop(QStringLiteral("chelsea.png"), 300, 200, 128, 64)},
        {QStringLiteral("astronaut 90x75"), crop(QStringLiteral("astronaut.png"), 200, 30, 90, 75)},
        {QStringLiteral("astronaut right bottom 77x53"), crop(QStringLiteral("astronaut.png"), 435, 459, 77, 53)},
        {QStringLiteral("hubble 101x48"), crop(QStringLiteral("hubble_deep_field.jpg"), 500, 400, 101, 48)},
        {QStringLiteral("camera grey 97x70"), crop(QStringLiteral("camera.png"), 210, 120, 97, 70)},
        {QStringLiteral("palette indexed"), loadPhoto(QStringLiteral("palette_color.png"))},
        {QStringLiteral("premultiplied 83x41"), premultipliedCrop(83, 41)},
        {QStringLiteral("narrow 5x40"), crop(QStringLiteral("chelsea.png"), 10, 10, 5, 40)},
        {QStringLiteral("flat 60x5"), crop(QStringLiteral("chelsea.png"), 10, 10, 60, 5)},
    };
    const QList<QPair<int, int>> geometries = {{1, 1}, {2, 2}, {2, 3}, {3, 2}, {4, 5}};
    for (const auto &image : images) {
        QVERIFY2(!image.second.isNull(), qPrintable(image.first));
        for (const auto &geometry : geometries) {
            if (image.second.width() < geometry.first || image.second.height() < geometry.first)
                continue;
            QTest::addRow("%s %d/%d", qPrintable(image.first), geometry.first, geometry.second)
                << image.second << geometry.first << geometry.second;
        }
    }
}

void TestFastTransforms::directMatchesReference()
{
    QFETCH(QImage, image);
    QFETCH(int, step);
    QFETCH(int, radius);
    const QList<float> kernel = makeRaisedCosineKernel(radius);
    const QImage expected = referenceDirectFTransform(image, step, kernel);
    const QString difference = compareOnEveryLevel([&] { return directFTransform(image, step, kernel); }, expected);
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
}

void TestFastTransforms::directCustomKernels_data()
{
    QTest::addColumn<QList<float>>("kernel");
    QTest::addColumn<int>("step");

    // Short binary fractions whose sums stay exact: the row/column pass.
    QTest::newRow("hybrid kernel, step 3") << QList<float>{1.0f, 0.5f, 0.0f} << 3;
    QTest::newRow("quarters 1, 0.75, 0.25, 0") << QList<float>{1.0f, 0.75f, 0.25f, 0.0f} << 2;
    QTest::newRow("1, 0.5 without trailing zero") << QList<float>{1.0f, 0.5f} << 2;
    // Mixed signs: interior weight sums (1 - 0.5 - 0.5)^2 vanish.
    QTest::newRow("zero interior weight 1, -0.5") << QList<float>{1.0f, -0.5f} << 2;
    QTest::newRow("mixed signs 1, -0.25, 0.5") << QList<float>{1.0f, -0.25f, 0.5f} << 1;
    // Binary fractions too fine for exact sums, and plain decimals: the
    // per-node order.
    QTest::newRow("fine fractions 1, 2^-12, 2^-13") << QList<float>{1.0f, 1.0f / 4096, 1.0f / 8192} << 2;
    QTest::newRow("decimals 1, 0.3, 0.1") << QList<float>{1.0f, 0.3f, 0.1f} << 2;
    QTest::newRow("zero in the middle 1, 0, 0.7") << QList<float>{1.0f, 0.0f, 0.7f} << 2;
    QTest::newRow("not a number") << QList<float>{1.0f, std::nanf(""), 0.5f} << 2;
    QTest::newRow("infinity") << QList<float>{1.0f, 0.25f, HUGE_VALF} << 3;
    QTest::newRow("longer than the image") << makeRaisedCosineKernel(60) << 4;
}

void TestFastTransforms::directCustomKernels()
{
    QFETCH(QList<float>, kernel);
    QFETCH(int, step);
    const QList<QImage> images = {crop(QStringLiteral("chelsea.png"), 40, 150, 67, 45),
                                  crop(QStringLiteral("camera.png"), 300, 300, 44, 51)};
    for (const QImage &image : images) {
        const QImage expected = referenceDirectFTransform(image, step, kernel);
        const QString difference =
            compareOnEveryLevel([&] { return directFTransform(image, step, kernel); }, expected);
        QVERIFY2(difference.isEmpty(), qPrintable(difference));
    }
}

void TestFastTransforms::directWholePhotographs()
{
    // The hybrid geometry over whole photographs of every kind in the data.
    const QList<float> kernel = makeRaisedCosineKernel(2);
    for (const QString &name : {QStringLiteral("chelsea.png"), QStringLiteral("brick.png"),
                                QStringLiteral("hubble_deep_field.jpg")}) {
        const QImage photo = loadPhoto(name);
        QVERIFY2(!photo.isNull(), qPrintable(name));
        const QImage expected = referenceDirectFTransform(photo, 2, kernel);
        const QString difference = compareOnEveryLevel([&] { return directFTransform(photo, 2, kernel); }, expected);
        QVERIFY2(difference.isEmpty(), qPrintable(name + QStringLiteral(": ") + difference));
    }
}

void TestFastTransforms::inverseMatchesReference_data()
{
    QTest::addColumn<QImage>("components");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("step");
    QTest::addColumn<int>("radius");
    QTest::addColumn<QList<float>>("weights");

    const QList<QPair<QString, QImage>> images = {
        {QStringLiteral("chelsea 45x33"), crop(QStringLiteral("chelsea.png"), 250, 40, 45, 33)},
        {QStringLiteral("astronaut 40x26"), crop(QStringLiteral("astronaut.png"), 300, 310, 40, 26)},
        {QStringLiteral("camera grey 37x30"), crop(QStringLiteral("camera.png"), 60, 60, 37, 30)},
        {QStringLiteral("palette indexed"), loadPhoto(QStringLiteral("palette_color.png"))},
        {QStringLiteral("premultiplied 31x22"), premultipliedCrop(31, 22)},
    };
    const QList<QPair<int, int>> geometries = {{2, 1}, {2, 2}, {3, 2}, {3, 4}, {4, 0}, {1, 3}};
    const QList<float> rounding = roundingWeights(81);
    const QList<float> mixed = mixedSignWeights(81);
    for (const auto &image : images) {
        QVERIFY2(!image.second.isNull(), qPrintable(image.first));
        const int cw = image.second.width();
        const int ch = image.second.height();
        for (const auto &geometry : geometries) {
            const int step = geometry.first;
            const int radius = geometry.second;
            // The exact multiple, a source size one pixel short of the next
            // node (hybrid compression of odd sizes), and more than that:
            // the last component column and row are reused.
            const QList<QPair<int, int>> sizes = {
                {cw * step, ch * step}, {cw * step + step - 1, ch * step + 1}, {cw * step + 5, ch * step + 3}};
            for (const auto &size : sizes) {
                QTest::addRow("%s %d/%d to %dx%d", qPrintable(image.first), step, radius, size.first, size.second)
                    << image.second << size.first << size.second << step << radius << rounding;
            }
            QTest::addRow("%s %d/%d mixed signs", qPrintable(image.first), step, radius)
                << image.second << cw * step + 1 << ch * step << step << radius << mixed;
        }
    }
    const QImage strip = crop(QStringLiteral("chelsea.png"), 100, 100, 23, 1);
    QTest::newRow("one component row to 46x1") << strip << 46 << 1 << 2 << 1 << rounding;
    QTest::newRow("one component row to 47x3") << strip << 47 << 3 << 2 << 2 << rounding;
    QTest::newRow("one component column to 1x40")
        << crop(QStringLiteral("chelsea.png"), 100, 100, 1, 20) << 1 << 40 << 2 << 1 << rounding;
    QTest::newRow("radius beyond the image") << strip << 30 << 2 << 2 << 1000 << roundingWeights(20001);
    QTest::newRow("zero weights everywhere") << strip << 46 << 2 << 2 << 1 << QVector<float>(11, 0.0f).toList();
}

void TestFastTransforms::inverseMatchesReference()
{
    QFETCH(QImage, components);
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(int, step);
    QFETCH(int, radius);
    QFETCH(QList<float>, weights);
    const QImage expected = referenceInverseFTransform(components, width, height, step, radius, weights);
    const QString difference = compareOnEveryLevel(
        [&] { return inverseFTransform(components, width, height, step, radius, weights); }, expected);
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
}

void TestFastTransforms::inverseOfHybridComponents()
{
    // The codec's own case: JPEG-decoded components of a photograph expanded
    // to the source size and to twice the component size, step 2, radius 1.
    const QImage photo = crop(QStringLiteral("astronaut.png"), 0, 0, 301, 257);
    const QImage components = QImage::fromData(
        [&] {
            QByteArray bytes;
            QBuffer buffer(&bytes);
            buffer.open(QIODevice::WriteOnly);
            directFTransform(photo, 2, makeRaisedCosineKernel(2)).save(&buffer, "jpg", 70);
            return bytes;
        }(),
        "jpg");
    QCOMPARE(components.size(), QSize(150, 128));
    const QList<float> weights = roundingWeights(21);
    for (const QSize size : {photo.size(), components.size() * 2}) {
        const QImage expected = referenceInverseFTransform(components, size.width(), size.height(), 2, 1, weights);
        const QString difference = compareOnEveryLevel(
            [&] { return inverseFTransform(components, size.width(), size.height(), 2, 1, weights); }, expected);
        QVERIFY2(difference.isEmpty(), qPrintable(difference));
    }
}

void TestFastTransforms::pathsAgreeOnLargerImage()
{
    // Many full vectors per row and rings reused over hundreds of rows, for
    // the benchmark's geometries: hybrid and general.
    QImage photo = loadPhoto(QStringLiteral("astronaut.png"));
    QVERIFY(!photo.isNull());
    photo = photo.copy(0, 0, 509, 403);
    const QList<float> weights = roundingWeights(41);
    struct Case
    {
        int step;
        int kernelRadius;
        int radius;
    };
    for (const Case c : {Case{2, 2, 1}, Case{3, 4, 2}}) {
        const QList<float> kernel = makeRaisedCosineKernel(c.kernelRadius);
        const QImage components = referenceDirectFTransform(photo, c.step, kernel);
        QString difference =
            compareOnEveryLevel([&] { return directFTransform(photo, c.step, kernel); }, components);
        QVERIFY2(difference.isEmpty(), qPrintable(QStringLiteral("direct: ") + difference));
        const QImage expanded =
            referenceInverseFTransform(components, photo.width(), photo.height(), c.step, c.radius, weights);
        difference = compareOnEveryLevel(
            [&] { return inverseFTransform(components, photo.width(), photo.height(), c.step, c.radius, weights); },
            expanded);
        QVERIFY2(difference.isEmpty(), qPrintable(QStringLiteral("inverse: ") + difference));
    }
}

void TestFastTransforms::largeImagesOwnTheirMemory()
{
    // Small images are ordinary ones; from 2 MB on the memory is a mapping
    // of the image's own, which must behave like any image's: writable,
    // shared by copies until one is written, alive until the last copy goes.
    const QImage small = newTransformImage(100, 50, QImage::Format_ARGB32);
    QCOMPARE(small.size(), QSize(100, 50));
    QCOMPARE(small.format(), QImage::Format_ARGB32);

    QImage copy;
    {
        QImage large = newTransformImage(2101, 1003, QImage::Format_ARGB32);
        QCOMPARE(large.size(), QSize(2101, 1003));
        QCOMPARE(large.format(), QImage::Format_ARGB32);
        QCOMPARE(large.bytesPerLine(), 2101 * 4);
        for (int y = 0; y < large.height(); ++y) {
            QRgb *line = reinterpret_cast<QRgb *>(large.scanLine(y));
            for (int x = 0; x < large.width(); ++x)
                line[x] = qRgba(x & 0xFF, y & 0xFF, (x + y) & 0xFF, 0xFF);
        }
        copy = large;
        QCOMPARE(copy.constBits(), large.constBits());
        large.setPixel(5, 7, qRgba(1, 2, 3, 4));
        QVERIFY(copy.constBits() != large.constBits());
        QCOMPARE(large.pixel(5, 7), qRgba(1, 2, 3, 4));
        QCOMPARE(copy.pixel(5, 7), qRgba(5, 7, 12, 0xFF));
    }
    // The original is gone; the copy still reads its own pixels.
    for (int y = 0; y < copy.height(); y += 97)
        for (int x = 0; x < copy.width(); x += 89)
            QCOMPARE(copy.pixel(x, y), qRgba(x & 0xFF, y & 0xFF, (x + y) & 0xFF, 0xFF));
    QCOMPARE(copy.convertToFormat(QImage::Format_RGB32).pixel(2100, 1002), qRgba(2100 & 0xFF, 1002 & 0xFF, 3102 & 0xFF, 0xFF));
}

void TestFastTransforms::largeInverseMatchesReference()
{
    // An output of 14 MB, in mapped memory, on the default path.
    const QImage components = loadPhoto(QStringLiteral("hubble_deep_field.jpg"));
    QCOMPARE(components.size(), QSize(1000, 872));
    const QList<float> weights = roundingWeights(21);
    const QImage expected = referenceInverseFTransform(components, 2001, 1744, 2, 1, weights);
    const QString difference = firstPixelDifference(inverseFTransform(components, 2001, 1744, 2, 1, weights), expected);
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
}

QTEST_GUILESS_MAIN(TestFastTransforms)
#include "test_fasttransforms.moc"
