#include "codec/qimage/directtransform.h"
#include "codec/transform/kernel.h"
#include "referencetransforms.h"
#include "testsupport.h"

#include <QtTest>

#include <cmath>

using namespace veltrano;

namespace {

// The coefficient as documented: the single-precision ratio k / n times the
// double constant pi in extended precision, rounded to double; its cosine
// plus one, halved, rounded to float.
float documentedCoefficient(int k, int n)
{
    const float ratio = float(k) / float(n);
    const double argument = double(static_cast<long double>(ratio) * static_cast<long double>(3.141592653589793));
    const double cosine = std::cos(argument);
    return float((1.0 + cosine) / 2.0);
}

QImage opaqueCopy(const QImage &image)
{
    QImage copy = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < copy.height(); ++y)
        for (int x = 0; x < copy.width(); ++x)
            copy.setPixel(x, y, copy.pixel(x, y) | 0xFF000000u);
    return copy;
}

// The weighted sum of one channel with the hybrid kernel (1, 0.5, 0.25 for
// node, edge and diagonal neighbours) in units of 0.25, over the pixels of
// the 3x3 block around (x, y) that lie inside the image.
int quarterSum(const QImage &image, int x, int y, int shift, int *weightQuarters)
{
    int sum = 0;
    int weight = 0;
    for (int dy = -1; dy <= 1; ++dy) {
        for (int dx = -1; dx <= 1; ++dx) {
            const int px = x + dx;
            const int py = y + dy;
            if (px < 0 || py < 0 || px >= image.width() || py >= image.height())
                continue;
            const int w = (dx == 0 ? 2 : 1) * (dy == 0 ? 2 : 1);
            sum += w * int((image.pixel(px, py) >> shift) & 0xFF);
            weight += w;
        }
    }
    *weightQuarters = weight;
    return sum;
}

// The hybrid component of node (x, y) in exact integer arithmetic.
QRgb exactHybridComponent(const QImage &image, int x, int y)
{
    int channels[3];
    const int shifts[3] = {16, 8, 0};
    for (int c = 0; c < 3; ++c) {
        int weight = 0;
        const int sum = quarterSum(image, x, y, shifts[c], &weight);
        channels[c] = sum / weight;
    }
    return qRgba(channels[0], channels[1], channels[2], 255);
}

} // namespace

class TestKernelDirect : public QObject
{
    Q_OBJECT

private slots:
    void kernelForRadiusTwoIsExact();
    void kernelFollowsDocumentedArithmetic();
    void kernelOfRadiusBelowOneIsEmpty();
    void directMatchesReference_data();
    void directMatchesReference();
    void directReadsEveryPixelFormatAsPixelDoes_data();
    void directReadsEveryPixelFormatAsPixelDoes();
    void directOnEveryPhotographMatchesReference();
    void workedExamples();
    void stepOneRadiusOneCopiesColours();
    void uniformImageGivesUniformComponents();
    void degenerateInputsGiveNullImages();
};

void TestKernelDirect::kernelForRadiusTwoIsExact()
{
    QCOMPARE(makeRaisedCosineKernel(2), (QList<float>{1.0f, 0.5f, 0.0f}));
    QCOMPARE(makeRaisedCosineKernel(1), (QList<float>{1.0f, 0.0f}));
}

void TestKernelDirect::kernelFollowsDocumentedArithmetic()
{
    for (int n = 1; n <= 300; ++n) {
        const QList<float> kernel = makeRaisedCosineKernel(n);
        QCOMPARE(kernel.size(), n + 1);
        for (int k = 0; k <= n; ++k) {
            const float expected = documentedCoefficient(k, n);
            if (kernel.at(k) != expected)
                QFAIL(qPrintable(QStringLiteral("n = %1, k = %2: %3 instead of %4")
                                     .arg(n)
                                     .arg(k)
                                     .arg(double(kernel.at(k)), 0, 'g', 9)
                                     .arg(double(expected), 0, 'g', 9)));
        }
        QCOMPARE(kernel.first(), 1.0f);
        QCOMPARE(kernel.last(), 0.0f);
    }
    // The single-precision ratio 2/3 moves the cosine's argument, so the
    // coefficient falls just short of 0.25 (it would be 0.25 with a ratio in
    // double precision).
    const QList<float> three = makeRaisedCosineKernel(3);
    QVERIFY(three.at(2) != 0.25f);
    QVERIFY(three.at(2) < 0.25f);
    QVERIFY(std::fabs(three.at(2) - 0.25f) < 1e-7f);
    QVERIFY(std::fabs(three.at(1) - 0.75f) < 1e-7f);
}

void TestKernelDirect::kernelOfRadiusBelowOneIsEmpty()
{
    QVERIFY(makeRaisedCosineKernel(0).isEmpty());
    QVERIFY(makeRaisedCosineKernel(-3).isEmpty());
}

void TestKernelDirect::directMatchesReference_data()
{
    QTest::addColumn<QImage>("image");
    QTest::addColumn<int>("step");
    QTest::addColumn<int>("radius");

    const QImage chelsea = loadPhoto(QStringLiteral("chelsea.png"));
    const QImage camera = loadPhoto(QStringLiteral("camera.png"));
    const QImage palette = loadPhoto(QStringLiteral("palette_color.png"));
    QVERIFY(!chelsea.isNull() && !camera.isNull() && !palette.isNull());
    QCOMPARE(chelsea.width(), 451);
    QCOMPARE(palette.format(), QImage::Format_Indexed8);
    QVERIFY(camera.isGrayscale());

    const QList<QPair<QString, QImage>> images = {
        {QStringLiteral("chelsea odd width"), chelsea.copy(200, 100, 45, 32)},
        {QStringLiteral("chelsea odd height"), chelsea.copy(10, 50, 40, 29)},
        {QStringLiteral("chelsea right border"), chelsea.copy(420, 269, 31, 31)},
        {QStringLiteral("camera grey"), camera.copy(250, 100, 37, 41)},
        {QStringLiteral("palette indexed"), palette},
        {QStringLiteral("1x1"), chelsea.copy(77, 88, 1, 1)},
        {QStringLiteral("2x2"), chelsea.copy(300, 120, 2, 2)},
        {QStringLiteral("5x5"), camera.copy(123, 321, 5, 5)},
    };
    const QList<QPair<int, int>> geometries = {{2, 2}, {2, 3}, {3, 4}, {1, 1}, {4, 2}, {3, 1}, {1, 3}};
    for (const auto &image : images) {
        for (const auto &geometry : geometries) {
            if (image.second.width() < geometry.first || image.second.height() < geometry.first)
                continue;
            QTest::addRow("%s step %d radius %d", qPrintable(image.first), geometry.first, geometry.second)
                << image.second << geometry.first << geometry.second;
        }
    }
}

void TestKernelDirect::directMatchesReference()
{
    QFETCH(QImage, image);
    QFETCH(int, step);
    QFETCH(int, radius);
    const QList<float> kernel = makeRaisedCosineKernel(radius);
    const QImage actual = directFTransform(image, step, kernel);
    QCOMPARE(actual.size(), QSize(image.width() / step, image.height() / step));
    const QString difference = firstPixelDifference(actual, referenceDirectFTransform(image, step, kernel));
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
}

void TestKernelDirect::directReadsEveryPixelFormatAsPixelDoes_data()
{
    QTest::addColumn<QImage>("image");
    QImage base = loadPhoto(QStringLiteral("chelsea.png")).copy(150, 150, 23, 17).convertToFormat(QImage::Format_ARGB32);
    QVERIFY(!base.isNull());
    QImage translucent = base;
    for (int y = 0; y < translucent.height(); ++y)
        for (int x = 0; x < translucent.width(); ++x)
            translucent.setPixel(x, y, (translucent.pixel(x, y) & 0xFFFFFF) | (uint((x * 37 + y * 11) & 0xFF) << 24));

    QTest::newRow("ARGB32 translucent") << translucent;
    QTest::newRow("ARGB32 premultiplied") << translucent.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QTest::newRow("RGB32") << base.convertToFormat(QImage::Format_RGB32);
    QTest::newRow("RGB888") << base.convertToFormat(QImage::Format_RGB888);
    QTest::newRow("RGB16") << base.convertToFormat(QImage::Format_RGB16);
    QTest::newRow("RGBA8888 premultiplied") << translucent.convertToFormat(QImage::Format_RGBA8888_Premultiplied);
    QTest::newRow("ARGB8565 premultiplied") << translucent.convertToFormat(QImage::Format_ARGB8565_Premultiplied);
    QTest::newRow("Grayscale8") << base.convertToFormat(QImage::Format_Grayscale8);
    QTest::newRow("Grayscale16") << base.convertToFormat(QImage::Format_Grayscale16);
    QTest::newRow("Indexed8") << base.convertToFormat(QImage::Format_Indexed8);
    QTest::newRow("Mono") << base.convertToFormat(QImage::Format_Mono);
}

void TestKernelDirect::directReadsEveryPixelFormatAsPixelDoes()
{
    QFETCH(QImage, image);
    const QList<float> kernel = makeRaisedCosineKernel(2);
    const QImage actual = directFTransform(image, 2, kernel);
    const QString difference = firstPixelDifference(actual, referenceDirectFTransform(image, 2, kernel));
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
}

void TestKernelDirect::directOnEveryPhotographMatchesReference()
{
    const QList<float> kernel = makeRaisedCosineKernel(2);
    const QStringList photos = QDir(sourcePath(QStringLiteral("data/photos")))
                                   .entryList({QStringLiteral("*.png"), QStringLiteral("*.jpg")}, QDir::Files);
    QVERIFY(photos.size() >= 6);
    for (const QString &name : photos) {
        const QImage photo = loadPhoto(name);
        QVERIFY2(!photo.isNull(), qPrintable(name));
        const QString difference = firstPixelDifference(directFTransform(photo, 2, kernel),
                                                        referenceDirectFTransform(photo, 2, kernel));
        QVERIFY2(difference.isEmpty(), qPrintable(name + QStringLiteral(": ") + difference));
    }
}

void TestKernelDirect::workedExamples()
{
    const QList<float> kernel = makeRaisedCosineKernel(2);
    const QImage chelsea = loadPhoto(QStringLiteral("chelsea.png"));

    // 2x2: one component, (p00 + 0.5 p10 + 0.5 p01 + 0.25 p11) / 2.25.
    const QImage two = chelsea.copy(100, 200, 2, 2);
    QImage result = directFTransform(two, 2, kernel);
    QCOMPARE(result.size(), QSize(1, 1));
    QCOMPARE(result.format(), QImage::Format_ARGB32);
    QCOMPARE(result.pixel(0, 0), exactHybridComponent(two, 0, 0));

    // 4x4: component (1, 1) is the 3x3 block at columns and rows 1 to 3 over 4.
    const QImage four = chelsea.copy(250, 60, 4, 4);
    result = directFTransform(four, 2, kernel);
    QCOMPARE(result.size(), QSize(2, 2));
    int weight = 0;
    quarterSum(four, 2, 2, 16, &weight);
    QCOMPARE(weight, 16);
    for (int j = 0; j < 2; ++j)
        for (int i = 0; i < 2; ++i)
            QCOMPARE(result.pixel(i, j), exactHybridComponent(four, 2 * i, 2 * j));

    // 5x5: columns hold the nodes x = 0 and 2 (x = 4 is dropped); row 1
    // holds the node y = 4, not y = 2.
    const QImage five = chelsea.copy(30, 30, 5, 5);
    result = directFTransform(five, 2, kernel);
    QCOMPARE(result.size(), QSize(2, 2));
    QCOMPARE(result.pixel(0, 0), exactHybridComponent(five, 0, 0));
    QCOMPARE(result.pixel(1, 0), exactHybridComponent(five, 2, 0));
    QCOMPARE(result.pixel(0, 1), exactHybridComponent(five, 0, 4));
    QCOMPARE(result.pixel(1, 1), exactHybridComponent(five, 2, 4));
    QVERIFY(exactHybridComponent(five, 0, 4) != exactHybridComponent(five, 0, 2));
}

void TestKernelDirect::stepOneRadiusOneCopiesColours()
{
    // Kernel (1, 0): every node sees its own pixel only.
    const QImage camera = loadPhoto(QStringLiteral("camera.png")).copy(40, 40, 19, 13);
    QCOMPARE(directFTransform(camera, 1, makeRaisedCosineKernel(1)), opaqueCopy(camera));
}

void TestKernelDirect::uniformImageGivesUniformComponents()
{
    QImage uniform(9, 7, QImage::Format_RGB32);
    uniform.fill(qRgb(201, 7, 99));
    const QImage result = directFTransform(uniform, 2, makeRaisedCosineKernel(2));
    QCOMPARE(result.size(), QSize(4, 3));
    for (int y = 0; y < result.height(); ++y)
        for (int x = 0; x < result.width(); ++x)
            QCOMPARE(result.pixel(x, y), qRgba(201, 7, 99, 255));
}

void TestKernelDirect::degenerateInputsGiveNullImages()
{
    const QImage photo = loadPhoto(QStringLiteral("chelsea.png")).copy(0, 0, 6, 6);
    const QList<float> kernel = makeRaisedCosineKernel(2);
    QVERIFY(directFTransform(QImage(), 2, kernel).isNull());
    QVERIFY(directFTransform(photo, 0, kernel).isNull());
    QVERIFY(directFTransform(photo, -2, kernel).isNull());
    QVERIFY(directFTransform(photo, 2, QList<float>()).isNull());
    QVERIFY(directFTransform(photo.copy(0, 0, 1, 6), 2, kernel).isNull());
    QVERIFY(directFTransform(photo.copy(0, 0, 6, 1), 2, kernel).isNull());
    QVERIFY(directFTransform(photo, 7, kernel).isNull());
    QCOMPARE(directFTransform(photo, 6, kernel).size(), QSize(1, 1));
}

QTEST_GUILESS_MAIN(TestKernelDirect)
#include "test_kernel_direct.moc"
