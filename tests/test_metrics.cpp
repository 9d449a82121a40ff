// mse and ssim: the defined cases, and real photo pairs against a plain
// transcription of the two formulas that reads every pixel through pixel().
#include "imagemetrics.h"
#include "testsupport.h"

#include <QBuffer>
#include <QtTest>

#include <cmath>
#include <cstring>

namespace {
int channelOf(QRgb p, int c)
{
    return c == 0 ? qRed(p) : c == 1 ? qGreen(p) : qBlue(p);
}

float referenceMse(const QImage &r, const QImage &t)
{
    double s[3] = {0, 0, 0};
    for (int x = 0; x < r.width(); ++x)
        for (int y = 0; y < r.height(); ++y)
            for (int c = 0; c < 3; ++c) {
                const int d = channelOf(r.pixel(x, y), c) - channelOf(t.pixel(x, y), c);
                s[c] += d * d;
            }
    const int n = r.width() * r.height();
    return float((s[0] / n + s[1] / n + s[2] / n) / 3);
}

float referenceSsim(const QImage &r, const QImage &t)
{
    const int n = r.width() * r.height();
    float result[3];
    for (int c = 0; c < 3; ++c) {
        double a = 0, b = 0;
        for (int x = 0; x < r.width(); ++x)
            for (int y = 0; y < r.height(); ++y) {
                a += channelOf(r.pixel(x, y), c);
                b += channelOf(t.pixel(x, y), c);
            }
        const double m1 = a / n, m2 = b / n;
        double v1 = 0, v2 = 0, k = 0;
        for (int x = 0; x < r.width(); ++x)
            for (int y = 0; y < r.height(); ++y) {
                const double d1 = channelOf(r.pixel(x, y), c) - m1;
                const double d2 = channelOf(t.pixel(x, y), c) - m2;
                v1 += d1 * d1;
                v2 += d2 * d2;
                k += d1 * d2;
            }
        const double s1 = std::sqrt(v1 / n), s2 = std::sqrt(v2 / n);
        result[c] = float(((2 * m1 * m2 + 6.5025) * (2 * (k / n) + 58.5225))
                          / ((m1 * m1 + m2 * m2 + 6.5025) * (s1 * s1 + s2 * s2 + 58.5225)));
    }
    return (result[0] + result[1] + result[2]) / 3;
}

QImage filled(int w, int h, QRgb colour, QImage::Format format = QImage::Format_ARGB32)
{
    QImage image(w, h, format);
    image.fill(colour);
    return image;
}

QImage jpegRoundTrip(const QImage &image, int quality)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "jpg", quality);
    return QImage::fromData(bytes, "jpg");
}

// Bitwise equality, so that NaN results and the last bit both count.
bool sameFloat(float a, float b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}
} // namespace

class MetricsTest : public QObject
{
    Q_OBJECT

private slots:
    void definedCases();
    void emptyAndMismatchedImages();
    void photoPairsMatchPlainFormulas_data();
    void photoPairsMatchPlainFormulas();
};

void MetricsTest::definedCases()
{
    const QImage photo = loadPhoto("chelsea.png").convertToFormat(QImage::Format_ARGB32);
    QCOMPARE(mse(photo, photo), 0.0f);
    QVERIFY(std::fabs(ssim(photo, photo) - 1.0f) <= std::numeric_limits<float>::epsilon());

    const QImage black = filled(7, 5, 0xff000000);
    const QImage white = filled(7, 5, 0xffffffff);
    QCOMPARE(mse(black, white), 65025.0f);
    QCOMPARE(ssim(black, white), float(6.5025 / 65031.5025));
    QCOMPARE(QString::number(ssim(black, white), 'g', 6), QStringLiteral("9.999e-05"));
    // Two flat channels at levels a and b.
    const float flat = ssim(filled(4, 4, qRgb(100, 100, 100)), filled(4, 4, qRgb(60, 60, 60)));
    QCOMPARE(flat, float((2 * 100.0 * 60 + 6.5025) / (100.0 * 100 + 60.0 * 60 + 6.5025)));
    QCOMPARE(ssim(filled(4, 4, qRgb(9, 9, 9)), filled(4, 4, qRgb(9, 9, 9))), 1.0f);

    // Off by one in the green channel everywhere.
    QImage shifted = photo.copy();
    for (int y = 0; y < shifted.height(); ++y)
        for (int x = 0; x < shifted.width(); ++x) {
            const QRgb p = shifted.pixel(x, y);
            shifted.setPixel(x, y, qRgb(qRed(p), qGreen(p) < 255 ? qGreen(p) + 1 : 254, qBlue(p)));
        }
    QCOMPARE(mse(photo, shifted), float(1.0 / 3));

    // Alpha is ignored.
    QImage translucent = photo.copy();
    for (int y = 0; y < translucent.height(); ++y)
        for (int x = 0; x < translucent.width(); ++x)
            translucent.setPixel(x, y, (translucent.pixel(x, y) & 0x00ffffff) | 0x10000000);
    QCOMPARE(mse(photo, translucent), 0.0f);
    QCOMPARE(ssim(photo, translucent), ssim(photo, photo));
}

void MetricsTest::emptyAndMismatchedImages()
{
    QVERIFY(std::isnan(mse(QImage(), QImage())));
    QVERIFY(std::isnan(ssim(QImage(), filled(3, 3, 0xff000000))));
    // A test image of another size would be read outside its extent or with
    // the wrong pixel count: no figure is given for it.
    const QImage big = filled(8, 8, 0xff808080);
    const QImage small = filled(8, 7, 0xff808080);
    QVERIFY(std::isnan(mse(big, small)));
    QVERIFY(std::isnan(ssim(big, small)));
    QVERIFY(std::isnan(mse(small, big)));
    QVERIFY(std::isnan(ssim(small, filled(7, 8, 0xff808080))));
}

void MetricsTest::photoPairsMatchPlainFormulas_data()
{
    QTest::addColumn<QString>("photo");
    QTest::addColumn<int>("format");
    QTest::newRow("chelsea argb32") << "chelsea.png" << int(QImage::Format_ARGB32);
    QTest::newRow("astronaut rgb32") << "astronaut.png" << int(QImage::Format_RGB32);
    QTest::newRow("camera grey") << "camera.png" << int(QImage::Format_Grayscale8);
    QTest::newRow("brick rgb888") << "brick.png" << int(QImage::Format_RGB888);
    QTest::newRow("gravel premultiplied") << "gravel.png" << int(QImage::Format_ARGB32_Premultiplied);
}

void MetricsTest::photoPairsMatchPlainFormulas()
{
    QFETCH(QString, photo);
    QFETCH(int, format);
    const QImage image = loadPhoto(photo).copy(0, 0, 301, 203).convertToFormat(QImage::Format(format));
    const QImage jpeg = jpegRoundTrip(image, 20).convertToFormat(QImage::Format(format));
    const QImage blurred = image.scaled(75, 50, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                               .scaled(image.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    for (const QImage &test : {jpeg, blurred}) {
        QVERIFY(sameFloat(mse(image, test), referenceMse(image, test)));
        QVERIFY(sameFloat(ssim(image, test), referenceSsim(image, test)));
        QVERIFY(sameFloat(ssim(test, image), referenceSsim(test, image)));
        QVERIFY(mse(image, test) > 0);
        QVERIFY(ssim(image, test) < 1);
    }
}

QTEST_MAIN(MetricsTest)
#include "test_metrics.moc"
