#include "codec/qimage/directtransform.h"
#include "codec/qimage/inversetransform.h"
#include "codec/transform/kernel.h"
#include "referencetransforms.h"
#include "testsupport.h"
#include "codec/transform/weightsfile.h"

#include <QtTest>

using namespace veltrano;

namespace {

// A table whose entries all differ, so that looking up a wrong index shows
// in the pixels: 61 entries, enough for step 1 and radius 3.
QList<float> irregularWeights()
{
    QList<float> weights;
    for (int i = 0; i <= 60; ++i)
        weights.append(0.3f + float((i * 37) % 17) / 16.0f);
    return weights;
}

QList<float> testWeights()
{
    ScratchDir scratch;
    writeFileBytes(QStringLiteral("weights.txt"), testWeightsFileText());
    QList<float> weights;
    loadWeightsTable(QStringLiteral("weights.txt"), weights);
    return weights;
}

QList<float> tableOf(std::initializer_list<std::pair<int, float>> entries, int size)
{
    QList<float> table;
    for (int i = 0; i < size; ++i)
        table.append(0.0f);
    for (const auto &entry : entries)
        table[entry.first] = entry.second;
    return table;
}

QList<float> loadText(const QByteArray &text, bool *opened = nullptr)
{
    ScratchDir scratch;
    writeFileBytes(QStringLiteral("w.txt"), text);
    QList<float> weights;
    const bool ok = loadWeightsTable(QStringLiteral("w.txt"), weights);
    if (opened)
        *opened = ok;
    return weights;
}

// The floor of the mean of one channel of the given pixels, in integers.
int meanChannel(const QList<QRgb> &pixels, int shift)
{
    int sum = 0;
    for (QRgb pixel : pixels)
        sum += int((pixel >> shift) & 0xFF);
    return sum / pixels.size();
}

QRgb exactMean(const QList<QRgb> &pixels)
{
    return qRgba(meanChannel(pixels, 16), meanChannel(pixels, 8), meanChannel(pixels, 0), 255);
}

QRgb opaque(QRgb pixel)
{
    return pixel | 0xFF000000u;
}

} // namespace

class TestInverseWeights : public QObject
{
    Q_OBJECT

private slots:
    void inverseMatchesReference_data();
    void inverseMatchesReference();
    void inverseOnEveryPhotographMatchesReference();
    void workedExamples();
    void scaledWeightsGiveTheSameImage();
    void zeroWeightSumGivesZeroChannels();
    void channelsAreNotClamped();
    void shortTableIsRefusedWithCounts();
    void tableLengthFollowsTheDistancesThatOccur();
    void invalidArgumentsAreRefused();

    void weightsFileLineEnds_data();
    void weightsFileLineEnds();
    void weightsFileAppendsToTheTable();
    void missingWeightsFile();
    void testWeightsFileHasTheDocumentedEntries();
};

void TestInverseWeights::inverseMatchesReference_data()
{
    QTest::addColumn<QImage>("components");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("step");
    QTest::addColumn<int>("radius");

    const QImage chelsea = loadPhoto(QStringLiteral("chelsea.png"));
    const QImage camera = loadPhoto(QStringLiteral("camera.png"));
    const QImage palette = loadPhoto(QStringLiteral("palette_color.png"));
    QVERIFY(!chelsea.isNull() && !camera.isNull() && !palette.isNull());
    QCOMPARE(palette.format(), QImage::Format_Indexed8);

    // Component images of every kind the transform may be given: the direct
    // transform's output, photographs read straight from their files (RGB,
    // grey, indexed) and tiny ones.
    const QImage directChelsea = directFTransform(chelsea.copy(100, 80, 61, 47), 2, makeRaisedCosineKernel(2));
    const QList<QPair<QString, QImage>> images = {
        {QStringLiteral("chelsea components"), directChelsea},
        {QStringLiteral("chelsea rgb"), chelsea.copy(300, 200, 29, 23)},
        {QStringLiteral("camera grey"), camera.copy(200, 260, 24, 31)},
        {QStringLiteral("palette indexed"), palette},
        {QStringLiteral("1x1"), chelsea.copy(40, 40, 1, 1)},
        {QStringLiteral("2x2"), chelsea.copy(220, 140, 2, 2)},
        {QStringLiteral("5x5"), camera.copy(300, 300, 5, 5)},
    };
    const QList<QPair<int, int>> geometries = {{2, 1}, {2, 2}, {3, 2}, {4, 4}, {1, 0}, {1, 3}, {3, 1}};
    for (const auto &image : images) {
        const int cw = image.second.width();
        const int ch = image.second.height();
        for (const auto &geometry : geometries) {
            const int step = geometry.first;
            // The exact multiple, one more (an odd source: the last node is
            // clamped), fewer pixels than the components cover, and many more.
            const QList<QSize> sizes = {{cw * step, ch * step},
                                        {cw * step + step - 1, ch * step + 1},
                                        {std::max(1, cw * step - 3), std::max(1, ch * step / 2)},
                                        {cw * step + 2 * step + 1, ch * step + 3}};
            for (const QSize &size : sizes)
                QTest::addRow("%s step %d radius %d to %dx%d", qPrintable(image.first), step, geometry.second,
                              size.width(), size.height())
                    << image.second << size.width() << size.height() << step << geometry.second;
        }
    }
}

void TestInverseWeights::inverseMatchesReference()
{
    QFETCH(QImage, components);
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(int, step);
    QFETCH(int, radius);
    const QList<float> weights = irregularWeights();
    QString error;
    const QImage actual = inverseFTransform(components, width, height, step, radius, weights, &error);
    QVERIFY2(!actual.isNull(), qPrintable(error));
    const QString difference =
        firstPixelDifference(actual, referenceInverseFTransform(components, width, height, step, radius, weights));
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
}

void TestInverseWeights::inverseOnEveryPhotographMatchesReference()
{
    // The hybrid codec's geometry on every photograph: direct 2/2, inverse
    // 2/1 back to the photograph's size, with the test weights file.
    const QList<float> kernel = makeRaisedCosineKernel(2);
    const QList<float> weights = testWeights();
    QCOMPARE(weights.size(), 21);
    const QStringList photos = QDir(sourcePath(QStringLiteral("data/photos")))
                                   .entryList({QStringLiteral("*.png"), QStringLiteral("*.jpg")}, QDir::Files);
    QVERIFY(photos.size() >= 6);
    for (const QString &name : photos) {
        const QImage photo = loadPhoto(name);
        QVERIFY2(!photo.isNull(), qPrintable(name));
        const QImage components = directFTransform(photo, 2, kernel);
        QString error;
        const QImage actual = inverseFTransform(components, photo.width(), photo.height(), 2, 1, weights, &error);
        QVERIFY2(!actual.isNull(), qPrintable(name + QStringLiteral(": ") + error));
        const QString difference = firstPixelDifference(
            actual, referenceInverseFTransform(components, photo.width(), photo.height(), 2, 1, weights));
        QVERIFY2(difference.isEmpty(), qPrintable(name + QStringLiteral(": ") + difference));
    }
}

void TestInverseWeights::workedExamples()
{
    const QList<float> weights = tableOf({{0, 1.0f}, {10, 0.5f}}, 11);
    const QImage chelsea = loadPhoto(QStringLiteral("chelsea.png"));

    // 1x1 to 2x2: the component in all four pixels.
    const QImage one = chelsea.copy(10, 10, 1, 1);
    QImage result = inverseFTransform(one, 2, 2, 2, 1, weights);
    QCOMPARE(result.size(), QSize(2, 2));
    QCOMPARE(result.format(), QImage::Format_ARGB32);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 2; ++x)
            QCOMPARE(result.pixel(x, y), opaque(one.pixel(0, 0)));

    // 2x2 to 4x4: (1, 1) is the mean of the four components, the odd border
    // pixel (3, 3) has only the node 2 and takes component (1, 1).
    const QImage two = chelsea.copy(200, 100, 2, 2);
    const QRgb c00 = two.pixel(0, 0), c10 = two.pixel(1, 0), c01 = two.pixel(0, 1), c11 = two.pixel(1, 1);
    QVERIFY(c00 != c11 && c10 != c01);
    result = inverseFTransform(two, 4, 4, 2, 1, weights);
    QCOMPARE(result.size(), QSize(4, 4));
    QCOMPARE(result.pixel(0, 0), opaque(c00));
    QCOMPARE(result.pixel(2, 0), opaque(c10));
    QCOMPARE(result.pixel(0, 2), opaque(c01));
    QCOMPARE(result.pixel(2, 2), opaque(c11));
    QCOMPARE(result.pixel(1, 1), exactMean({c00, c10, c01, c11}));
    QCOMPARE(result.pixel(1, 0), exactMean({c00, c10}));
    QCOMPARE(result.pixel(0, 1), exactMean({c00, c01}));
    QCOMPARE(result.pixel(3, 3), opaque(c11));
    QCOMPARE(result.pixel(3, 0), opaque(c10));
    QCOMPARE(result.pixel(3, 1), exactMean({c10, c11}));

    // 2x2 to 5x5: row and column 4 are nodes whose index 2 is clamped to 1.
    result = inverseFTransform(two, 5, 5, 2, 1, weights);
    QCOMPARE(result.size(), QSize(5, 5));
    QCOMPARE(result.pixel(4, 4), opaque(c11));
    QCOMPARE(result.pixel(4, 0), opaque(c10));
    QCOMPARE(result.pixel(0, 4), opaque(c01));
    // Column 3 lies between the node 2 and the clamped node 4: both are
    // component column 1.
    QCOMPARE(result.pixel(3, 0), opaque(c10));
    QCOMPARE(result.pixel(3, 3), opaque(c11));
    QCOMPARE(result.pixel(1, 4), exactMean({c01, c11}));
}

void TestInverseWeights::scaledWeightsGiveTheSameImage()
{
    const QImage components = loadPhoto(QStringLiteral("chelsea.png")).copy(150, 100, 40, 30);
    const QList<float> weights = irregularWeights();
    QList<float> doubled;
    for (float w : weights)
        doubled.append(w * 2.0f);
    for (const auto &geometry : QList<QPair<int, int>>{{2, 1}, {3, 2}, {1, 3}}) {
        const int w = components.width() * geometry.first + 1;
        const int h = components.height() * geometry.first;
        const QImage plain = inverseFTransform(components, w, h, geometry.first, geometry.second, weights);
        QVERIFY(!plain.isNull());
        QCOMPARE(inverseFTransform(components, w, h, geometry.first, geometry.second, doubled), plain);
    }
}

void TestInverseWeights::zeroWeightSumGivesZeroChannels()
{
    const QImage components = loadPhoto(QStringLiteral("chelsea.png")).copy(60, 60, 3, 3);

    // All used weights 0: every pixel is opaque black.
    QImage result = inverseFTransform(components, 6, 6, 2, 1, tableOf({}, 11));
    QCOMPARE(result.size(), QSize(6, 6));
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 6; ++x)
            QCOMPARE(result.pixel(x, y), 0xFF000000u);

    // Entry 10 is 0: pixels between nodes have a weight sum of 0 and are
    // black, the node pixels keep their components.
    result = inverseFTransform(components, 6, 6, 2, 1, tableOf({{0, 1.0f}}, 11));
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 6; ++x) {
            const QRgb expected = (x % 2 == 0 && y % 2 == 0) ? opaque(components.pixel(x / 2, y / 2)) : 0xFF000000u;
            QCOMPARE(result.pixel(x, y), expected);
        }
}

void TestInverseWeights::channelsAreNotClamped()
{
    // One row of three components 200, 10, 200 (grey); step 2, radius 2:
    // pixel x = 2 meets the node 2 at distance 0 (weight 1) and the nodes 0
    // and 4 at distance 2 (weight -0.25). Weight sum 0.5; colour sum
    // 10 - 0.25 * 400 = -90; quotient -180, whose low 8 bits are 76.
    QImage components(3, 1, QImage::Format_RGB32);
    components.setPixel(0, 0, qRgb(200, 200, 200));
    components.setPixel(1, 0, qRgb(10, 10, 10));
    components.setPixel(2, 0, qRgb(200, 200, 200));
    const QList<float> weights = tableOf({{0, 1.0f}, {10, 0.5f}, {20, -0.25f}}, 21);
    const QImage result = inverseFTransform(components, 5, 1, 2, 2, weights);
    QCOMPARE(result.size(), QSize(5, 1));
    QCOMPARE(result.pixel(2, 0), qRgba(76, 76, 76, 255));
    // A sum above 255: x = 0 meets node 0 (weight 1) and node 2 (weight
    // -0.25): (200 - 2.5) / 0.75 = 263.33, kept as 263 & 0xFF = 7.
    QCOMPARE(result.pixel(0, 0), qRgba(7, 7, 7, 255));
}

void TestInverseWeights::shortTableIsRefusedWithCounts()
{
    const QImage components = loadPhoto(QStringLiteral("chelsea.png")).copy(0, 0, 8, 8);
    struct Case {
        int step;
        int radius;
        int needed;
    };
    // ceil(radius * float(20 / step)) + 1 entries.
    for (const Case &c : {Case{2, 1, 11}, Case{2, 2, 21}, Case{3, 2, 15}, Case{4, 4, 21}, Case{1, 3, 61}, Case{1, 0, 1}}) {
        QList<float> weights = irregularWeights().mid(0, c.needed - 1);
        QString error;
        const QImage refused = inverseFTransform(components, 16, 16, c.step, c.radius, weights, &error);
        QVERIFY(refused.isNull());
        QCOMPARE(error, QStringLiteral("the weights table has %1 entries, but step %2 and radius %3 need %4")
                            .arg(c.needed - 1)
                            .arg(c.step)
                            .arg(c.radius)
                            .arg(c.needed));
        QCOMPARE(requiredWeightCount(16, 16, c.step, c.radius), c.needed);
        // One entry more is enough.
        weights = irregularWeights().mid(0, c.needed);
        error.clear();
        QVERIFY2(!inverseFTransform(components, 16, 16, c.step, c.radius, weights, &error).isNull(),
                 qPrintable(error));
    }
    QString error;
    QVERIFY(inverseFTransform(components, 16, 16, 2, 1, QList<float>(), &error).isNull());
    QCOMPARE(error, QStringLiteral("the weights table has 0 entries, but step 2 and radius 1 need 11"));
}

void TestInverseWeights::tableLengthFollowsTheDistancesThatOccur()
{
    // An output of one pixel meets only the node at distance 0, whatever the
    // radius: a table of one entry is enough, and the result is the
    // component.
    const QImage components = loadPhoto(QStringLiteral("camera.png")).copy(100, 100, 3, 3);
    QString error;
    QImage result = inverseFTransform(components, 1, 1, 2, 5, {0.5f}, &error);
    QVERIFY2(!result.isNull(), qPrintable(error));
    QCOMPARE(result.pixel(0, 0), opaque(components.pixel(0, 0)));
    // Three pixels in one row with radius 5 meet distances up to 2.
    QCOMPARE(requiredWeightCount(3, 1, 2, 5), 21);
    result = inverseFTransform(components, 3, 1, 2, 5, irregularWeights().mid(0, 21), &error);
    QVERIFY2(!result.isNull(), qPrintable(error));
    QCOMPARE(result, referenceInverseFTransform(components, 3, 1, 2, 5, irregularWeights()));
    QVERIFY(inverseFTransform(components, 3, 1, 2, 5, irregularWeights().mid(0, 20), &error).isNull());
}

void TestInverseWeights::invalidArgumentsAreRefused()
{
    const QImage components = loadPhoto(QStringLiteral("camera.png")).copy(0, 0, 4, 4);
    const QList<float> weights = irregularWeights();
    QString error;
    QVERIFY(inverseFTransform(QImage(), 8, 8, 2, 1, weights, &error).isNull());
    QVERIFY(!error.isEmpty());
    error.clear();
    QVERIFY(inverseFTransform(components, 0, 8, 2, 1, weights, &error).isNull());
    QVERIFY(!error.isEmpty());
    error.clear();
    QVERIFY(inverseFTransform(components, 8, -1, 2, 1, weights, &error).isNull());
    QVERIFY(!error.isEmpty());
    error.clear();
    QVERIFY(inverseFTransform(components, 8, 8, 0, 1, weights, &error).isNull());
    QVERIFY(!error.isEmpty());
    error.clear();
    QVERIFY(inverseFTransform(components, 8, 8, 2, -1, weights, &error).isNull());
    QVERIFY(!error.isEmpty());
    // No error pointer: still refused, without a crash.
    QVERIFY(inverseFTransform(components, 8, 8, 2, 1, QList<float>()).isNull());
}

void TestInverseWeights::weightsFileLineEnds_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QList<float>>("expected");

    QTest::newRow("LF") << QByteArray("1\n0.5\n") << QList<float>{1.0f, 0.5f};
    QTest::newRow("LF blank line") << QByteArray("1\n\n0.5\n") << QList<float>{1.0f, 0.0f, 0.5f};
    QTest::newRow("CR LF") << QByteArray("1\r\n0.5\r\n") << QList<float>{1.0f, 0.5f};
    QTest::newRow("CR LF blank line") << QByteArray("1\r\n\r\n0.5\r\n") << QList<float>{1.0f, 0.0f, 0.5f};
    QTest::newRow("no final line end") << QByteArray("0.25\n0.75") << QList<float>{0.25f, 0.75f};
    QTest::newRow("empty file") << QByteArray() << QList<float>{};
    QTest::newRow("one blank line") << QByteArray("\n") << QList<float>{0.0f};
    QTest::newRow("unparsable lines") << QByteArray("abc\n1,5\n0.5x\n1e39\n-2\n") << QList<float>{0.0f, 0.0f, 0.0f, 0.0f, -2.0f};
    QTest::newRow("white space and exponent") << QByteArray("  0.125 \n\t2.5e-1\n+3E0\r\n")
                                              << QList<float>{0.125f, 0.25f, 3.0f};
}

void TestInverseWeights::weightsFileLineEnds()
{
    QFETCH(QByteArray, text);
    QFETCH(QList<float>, expected);
    bool opened = false;
    const QList<float> weights = loadText(text, &opened);
    QVERIFY(opened);
    QCOMPARE(weights, expected);

    // readWeightsFile reads the same table and prints nothing when the file
    // opens.
    ScratchDir scratch;
    writeFileBytes(QStringLiteral("weights_out.txt"), text);
    QList<float> read;
    bool ok = false;
    const QByteArray printed = captureStdout([&] { ok = readWeightsFile(read); });
    QVERIFY(ok);
    QCOMPARE(printed, QByteArray());
    QCOMPARE(read, expected);
}

void TestInverseWeights::weightsFileAppendsToTheTable()
{
    ScratchDir scratch;
    writeFileBytes(QStringLiteral("w.txt"), "2\n3\n");
    QList<float> weights{1.0f};
    QVERIFY(loadWeightsTable(QStringLiteral("w.txt"), weights));
    QCOMPARE(weights, (QList<float>{1.0f, 2.0f, 3.0f}));
}

void TestInverseWeights::missingWeightsFile()
{
    ScratchDir scratch;
    QList<float> weights;
    bool ok = true;
    QByteArray printed = captureStdout([&] { ok = readWeightsFile(weights); });
    QVERIFY(!ok);
    QCOMPARE(printed, QByteArray("cannot open weights file!"));
    QVERIFY(weights.isEmpty());

    printed = captureStdout([&] { ok = readWeightsFile(weights, QStringLiteral("nowhere/w.txt")); });
    QVERIFY(!ok);
    QCOMPARE(printed, QByteArray("cannot open weights file!"));
    QVERIFY(weights.isEmpty());

    // The quiet reader prints nothing and names the file in its message.
    QString error;
    printed = captureStdout([&] { ok = loadWeightsTable(QStringLiteral("missing.txt"), weights, &error); });
    QVERIFY(!ok);
    QCOMPARE(printed, QByteArray());
    QVERIFY2(error.contains(QLatin1String("missing.txt")), qPrintable(error));
    QVERIFY(weights.isEmpty());
}

void TestInverseWeights::testWeightsFileHasTheDocumentedEntries()
{
    const QList<float> weights = testWeights();
    QCOMPARE(weights.size(), 21);
    QCOMPARE(weights.at(0), 1.0f);
    QCOMPARE(weights.at(10), 0.75f);
    QCOMPARE(weights.at(20), 0.5f);
}

QTEST_GUILESS_MAIN(TestInverseWeights)
#include "test_inverse_weights.moc"
