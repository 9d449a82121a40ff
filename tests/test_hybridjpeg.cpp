#include "codectestsupport.h"
#include "codec/qimage/hybridjpeg.h"
#include "codec/qimage/imagefile.h"
#include "testsupport.h"
#include "codec/transform/weightsfile.h"

#include <QtTest>

using namespace veltrano;

namespace {

const QByteArray hybridHeader = QByteArray::fromHex("FFD8FFE000104A4649460001" "04");

QList<float> testWeights()
{
    QList<float> weights;
    for (int i = 0; i <= 20; ++i)
        weights.append(float(1.0 - i / 40.0));
    return weights;
}

// Bytes at which two arrays of the same size differ.
QList<int> differingOffsets(const QByteArray &a, const QByteArray &b)
{
    QList<int> offsets;
    for (int i = 0; i < std::min(a.size(), b.size()); ++i)
        if (a.at(i) != b.at(i))
            offsets.append(i);
    return offsets;
}

QByteArray firstLineOf(const QString &fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray("<cannot open>");
    return readFirstLine(file);
}

} // namespace

class TestHybridJpeg : public QObject
{
    Q_OBJECT

private slots:
    void hybridFileStartsWithTheMarkedHeader();
    void plainJpegIsStandard();
    void markingChangesOnlyByte12AndIsIdempotent();
    void shortFirstLines_data();
    void shortFirstLines();
    void markingNeverCreatesAFile();
    void compressMatchesTheReferencePipeline_data();
    void compressMatchesTheReferencePipeline();
    void oddSourcesCompressToTheirSizeAndDecompressToTwiceTheComponents();
    void hybridFileLoadsAsAPlainJpegOfTheComponentSize();
    void decompressReadsTheWeightsFile();
    void missingWeightsFileGivesANullImage();
    void shortTablesAreRefusedWithCounts();
    void absurdDeclaredSizesAreRefusedBeforeDecoding();
    void headerSizesWithoutDecoding();
    void unreadableHybridFilesAreFailures();
    void tooSmallSourcesAreRefusedWithoutWriting();
    void failedWritesKeepTheEarlierFile();
    void imageFilesAreWrittenWholeOrNotAtAll();
    void imageFilesReadAsQtReadsThem();
};

void TestHybridJpeg::hybridFileStartsWithTheMarkedHeader()
{
    ScratchDir scratch;
    const QImage source = loadPhoto(QStringLiteral("chelsea.png")).copy(100, 100, 64, 48);
    QString error;
    const QImage result = compressHybrid(source, 70, testWeights(), &error);
    QVERIFY2(!result.isNull(), qPrintable(error));
    // The default file name is "hybrid.jpg" in the working directory.
    const QByteArray bytes = readFileBytes(QStringLiteral("hybrid.jpg"));
    QCOMPARE(bytes.left(13), hybridHeader);
    QVERIFY(isHybridJpeg(firstLineOf(QStringLiteral("hybrid.jpg"))));
}

void TestHybridJpeg::plainJpegIsStandard()
{
    ScratchDir scratch;
    const QImage photo = loadPhoto(QStringLiteral("camera.png")).copy(0, 0, 32, 32);
    for (int quality : {0, 50, 100}) {
        QVERIFY(photo.save(QStringLiteral("plain.jpg"), "jpg", quality));
        const QByteArray line = firstLineOf(QStringLiteral("plain.jpg"));
        QVERIFY(line.size() >= 13);
        QVERIFY(line.at(12) != 0x04);
        QVERIFY(!isHybridJpeg(line));
    }
}

void TestHybridJpeg::markingChangesOnlyByte12AndIsIdempotent()
{
    ScratchDir scratch;
    const QByteArray plain = encodeJpeg(loadPhoto(QStringLiteral("chelsea.png")).copy(0, 0, 40, 30), 80);
    QVERIFY(plain.size() > 100);
    QVERIFY(plain.at(12) != 0x04);
    QVERIFY(writeFileBytes(QStringLiteral("a.jpg"), plain));

    markHybridJpeg(QStringLiteral("a.jpg"));
    const QByteArray once = readFileBytes(QStringLiteral("a.jpg"));
    QCOMPARE(once.size(), plain.size());
    QCOMPARE(differingOffsets(once, plain), QList<int>{12});
    QCOMPARE(once.at(12), char(0x04));

    markHybridJpeg(QStringLiteral("a.jpg"));
    QCOMPARE(readFileBytes(QStringLiteral("a.jpg")), once);

    // The in-memory marking gives the same bytes, and is idempotent too.
    QByteArray data = plain;
    QVERIFY(markHybridJpegData(data));
    QCOMPARE(data, once);
    QVERIFY(markHybridJpegData(data));
    QCOMPARE(data, once);
}

void TestHybridJpeg::shortFirstLines_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("hybrid");
    QTest::addColumn<bool>("markable");

    const QByteArray header = hybridHeader;
    QTest::newRow("empty") << QByteArray() << false << false;
    QTest::newRow("12 bytes") << header.left(12) << false << false;
    QTest::newRow("line feed at 5, marker at 12") << QByteArray(header).replace(5, 1, "\n") << false << false;
    QTest::newRow("line feed at 11, marker at 12") << QByteArray(header).replace(11, 1, "\n") + "rest" << false << false;
    QTest::newRow("line feed at 0") << QByteArray("\n") + header << false << false;
    QTest::newRow("exactly 13 bytes marked") << header << true << true;
    QTest::newRow("13 bytes unmarked") << withByte12(header, 0x01) << false << true;
    // A line feed at offset 12 ends the first line there: 13 bytes long,
    // so byte 12 is its last byte and is marked.
    QTest::newRow("line feed at 12") << withByte12(header, '\n') + "tail" << false << true;
    QTest::newRow("line feed at 13") << header + "\nmore" << true << true;
}

void TestHybridJpeg::shortFirstLines()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, hybrid);
    QFETCH(bool, markable);
    ScratchDir scratch;
    QVERIFY(writeFileBytes(QStringLiteral("f.jpg"), bytes));
    QCOMPARE(isHybridJpeg(firstLineOf(QStringLiteral("f.jpg"))), hybrid);

    markHybridJpeg(QStringLiteral("f.jpg"));
    const QByteArray after = readFileBytes(QStringLiteral("f.jpg"));
    QCOMPARE(after.size(), bytes.size());
    if (markable) {
        QCOMPARE(after, withByte12(bytes, 0x04));
        QVERIFY(isHybridJpeg(firstLineOf(QStringLiteral("f.jpg"))));
    } else {
        QCOMPARE(after, bytes);
        QVERIFY(!isHybridJpeg(firstLineOf(QStringLiteral("f.jpg"))));
    }
    QByteArray data = bytes;
    QCOMPARE(markHybridJpegData(data), markable);
    QCOMPARE(data, after);
}

void TestHybridJpeg::markingNeverCreatesAFile()
{
    ScratchDir scratch;
    markHybridJpeg(QStringLiteral("absent.jpg"));
    QVERIFY(!QFile::exists(QStringLiteral("absent.jpg")));
    QVERIFY(folderEntries(scratch.path()).isEmpty());
}

void TestHybridJpeg::compressMatchesTheReferencePipeline_data()
{
    QTest::addColumn<QImage>("source");
    QTest::addColumn<int>("quality");
    const QImage chelsea = loadPhoto(QStringLiteral("chelsea.png"));
    const QImage camera = loadPhoto(QStringLiteral("camera.png"));
    const QImage palette = loadPhoto(QStringLiteral("palette_color.png"));
    QTest::newRow("chelsea whole, odd width") << chelsea << 70;
    QTest::newRow("chelsea odd height, quality 95") << chelsea.copy(50, 50, 120, 87) << 95;
    QTest::newRow("camera grey, quality 50") << camera.copy(100, 200, 97, 64) << 50;
    QTest::newRow("palette indexed") << palette << 90;
    QTest::newRow("2x2") << chelsea.copy(10, 10, 2, 2) << 70;
    QTest::newRow("5x5") << camera.copy(300, 10, 5, 5) << 100;
}

void TestHybridJpeg::compressMatchesTheReferencePipeline()
{
    QFETCH(QImage, source);
    QFETCH(int, quality);
    ScratchDir scratch;
    const QList<float> weights = testWeights();
    QString error;
    const QImage result = compressHybrid(source, quality, weights, &error);
    QVERIFY2(!result.isNull(), qPrintable(error));

    // The file is the reference components as Qt's JPEG writer encodes them,
    // marked.
    const QByteArray file = readFileBytes(QStringLiteral("hybrid.jpg"));
    const QByteArray expectedFile = referenceHybridFile(source, quality);
    QVERIFY(!expectedFile.isEmpty());
    QVERIFY2(file == expectedFile, "hybrid.jpg differs from the reference components' JPEG");

    // The result is the file's decoded components expanded to the source
    // size.
    const QImage expected = referenceHybridDecode(file, source.width(), source.height(), weights);
    const QString difference = firstPixelDifference(result, expected);
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
}

void TestHybridJpeg::oddSourcesCompressToTheirSizeAndDecompressToTwiceTheComponents()
{
    const QImage chelsea = loadPhoto(QStringLiteral("chelsea.png"));
    struct Case {
        QSize source;
        QSize components;
    };
    for (const Case &c : {Case{{5, 5}, {2, 2}}, Case{{451, 300}, {225, 150}}, Case{{40, 31}, {20, 15}},
                          Case{{3, 2}, {1, 1}}}) {
        ScratchDir scratch;
        QVERIFY(writeFileBytes(QStringLiteral("weights_out.txt"), testWeightsFileText()));
        const QImage source = chelsea.copy(QRect(QPoint(0, 0), c.source));
        QString error;
        const QImage compressed = compressHybrid(source, 70, testWeights(), &error);
        QVERIFY2(!compressed.isNull(), qPrintable(error));
        QCOMPARE(compressed.size(), c.source);
        QCOMPARE(compressed.format(), QImage::Format_ARGB32);
        QCOMPARE(QImageReader(QStringLiteral("hybrid.jpg")).size(), c.components);

        const QImage decompressed = decompressHybrid(QStringLiteral("hybrid.jpg"), &error);
        QVERIFY2(!decompressed.isNull(), qPrintable(error));
        QCOMPARE(decompressed.size(), c.components * 2);
        QCOMPARE(decompressed.format(), QImage::Format_ARGB32);
    }
}

void TestHybridJpeg::hybridFileLoadsAsAPlainJpegOfTheComponentSize()
{
    ScratchDir scratch;
    const QImage source = loadPhoto(QStringLiteral("chelsea.png")).copy(0, 0, 101, 77);
    QString error;
    QVERIFY2(!compressHybrid(source, 70, testWeights(), &error, QStringLiteral("marked.jpg")).isNull(),
             qPrintable(error));
    QVERIFY(isHybridJpeg(firstLineOf(QStringLiteral("marked.jpg"))));
    QImageReader reader(QStringLiteral("marked.jpg"));
    QCOMPARE(reader.format(), QByteArray("jpeg"));
    QImage plain;
    QVERIFY2(reader.read(&plain), qPrintable(reader.errorString()));
    QCOMPARE(plain.size(), QSize(50, 38));
    // The marker changes nothing in the decoded pixels.
    QCOMPARE(plain, QImage::fromData(withByte12(readFileBytes(QStringLiteral("marked.jpg")), 0x01)));
}

void TestHybridJpeg::decompressReadsTheWeightsFile()
{
    ScratchDir scratch;
    // The file made in memory from the reference components, so that
    // decompression is checked on its own.
    const QImage source = loadPhoto(QStringLiteral("camera.png")).copy(150, 150, 81, 60);
    const QByteArray file = referenceHybridFile(source, 70);
    QVERIFY(writeFileBytes(QStringLiteral("h.jpg"), file));

    // Irregular weights in the file: entries 0 and 10 differ from the test
    // table, so the result shows which table was used.
    QByteArray text;
    QList<float> weights;
    for (int i = 0; i <= 20; ++i) {
        const float value = 0.2f + float((i * 7) % 5);
        weights.append(value);
        text += QByteArray::number(double(value)) + "\r\n";
    }
    QVERIFY(writeFileBytes(QStringLiteral("weights_out.txt"), text));

    QString error;
    QImage result;
    const QByteArray printed = captureStdout([&] { result = decompressHybrid(QStringLiteral("h.jpg"), &error); });
    QCOMPARE(printed, QByteArray());
    QVERIFY2(!result.isNull(), qPrintable(error));
    QCOMPARE(result.size(), QSize(80, 60));
    QString difference = firstPixelDifference(result, referenceHybridDecode(file, 80, 60, weights));
    QVERIFY2(difference.isEmpty(), qPrintable(difference));

    // Another weights file by name, and a table given directly.
    QVERIFY(writeFileBytes(QStringLiteral("other.txt"), testWeightsFileText()));
    const QImage expected = referenceHybridDecode(file, 80, 60, testWeights());
    result = decompressHybrid(QStringLiteral("h.jpg"), &error, QStringLiteral("other.txt"));
    difference = firstPixelDifference(result, expected);
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
    result = decompressHybrid(QStringLiteral("h.jpg"), testWeights(), &error);
    difference = firstPixelDifference(result, expected);
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
}

void TestHybridJpeg::missingWeightsFileGivesANullImage()
{
    ScratchDir scratch;
    QVERIFY(writeFileBytes(QStringLiteral("h.jpg"),
                           referenceHybridFile(loadPhoto(QStringLiteral("chelsea.png")).copy(0, 0, 8, 8), 70)));
    QString error;
    QImage result(1, 1, QImage::Format_ARGB32);
    const QByteArray printed = captureStdout([&] { result = decompressHybrid(QStringLiteral("h.jpg"), &error); });
    QCOMPARE(printed, QByteArray("cannot open weights file!"));
    QVERIFY(result.isNull());
    QCOMPARE(result.format(), QImage::Format_Invalid);
    QVERIFY2(error.contains(QLatin1String("weights_out.txt")), qPrintable(error));
}

void TestHybridJpeg::shortTablesAreRefusedWithCounts()
{
    ScratchDir scratch;
    const QImage source = loadPhoto(QStringLiteral("chelsea.png")).copy(0, 0, 20, 20);
    const QList<float> ten = testWeights().mid(0, 10);

    QString error;
    QVERIFY(compressHybrid(source, 70, ten, &error).isNull());
    QVERIFY2(error.contains(QLatin1String("10")) && error.contains(QLatin1String("11")), qPrintable(error));
    QVERIFY(!QFile::exists(QStringLiteral("hybrid.jpg")));

    QVERIFY(writeFileBytes(QStringLiteral("h.jpg"), referenceHybridFile(source, 70)));
    error.clear();
    QVERIFY(decompressHybrid(QStringLiteral("h.jpg"), ten, &error).isNull());
    QVERIFY2(error.contains(QLatin1String("10")) && error.contains(QLatin1String("11")), qPrintable(error));

    // Through the file: four lines are four entries.
    QVERIFY(writeFileBytes(QStringLiteral("weights_out.txt"), "1\n0.5\n0.25\n0\n"));
    error.clear();
    QVERIFY(decompressHybrid(QStringLiteral("h.jpg"), &error).isNull());
    QVERIFY2(error.contains(QLatin1String("4 entries")) && error.contains(QLatin1String("11"))
                 && error.contains(QLatin1String("weights_out.txt")),
             qPrintable(error));
}

void TestHybridJpeg::absurdDeclaredSizesAreRefusedBeforeDecoding()
{
    ScratchDir scratch;
    const QByteArray small = referenceHybridFile(loadPhoto(QStringLiteral("chelsea.png")).copy(0, 0, 16, 16), 70);
    const QByteArray huge = withFrameSize(small, 65535, 65535);
    QVERIFY(!huge.isEmpty());
    QVERIFY(huge.left(13) == hybridHeader);
    QVERIFY(writeFileBytes(QStringLiteral("huge.jpg"), huge));
    // Qt's reader cannot tell this size (its decoder stops at 65500).
    QCOMPARE(readImageSize(QStringLiteral("huge.jpg")), QSize(65535, 65535));

    QString error;
    QVERIFY(decompressHybrid(QStringLiteral("huge.jpg"), testWeights(), &error).isNull());
    QVERIFY2(error.contains(QLatin1String("huge.jpg")) && error.contains(QLatin1String("65535x65535")),
             qPrintable(error));

    QImage image(3, 3, QImage::Format_ARGB32);
    QVERIFY(!readImageFile(QStringLiteral("huge.jpg"), image, &error));
    QVERIFY(image.isNull());
    QVERIFY2(error.contains(QLatin1String("huge.jpg")) && error.contains(QLatin1String("65535x65535")),
             qPrintable(error));

    // A size Qt's reader tells from the header, over the limit as well.
    QVERIFY(writeFileBytes(QStringLiteral("large.jpg"), withFrameSize(small, 65500, 40000)));
    QCOMPARE(QImageReader(QStringLiteral("large.jpg")).size(), QSize(65500, 40000));
    error.clear();
    QVERIFY(decompressHybrid(QStringLiteral("large.jpg"), testWeights(), &error).isNull());
    QVERIFY2(error.contains(QLatin1String("65500x40000")), qPrintable(error));
    QVERIFY(!readImageFile(QStringLiteral("large.jpg"), image, &error));
    QVERIFY2(error.contains(QLatin1String("65500x40000")), qPrintable(error));

    // Just past the limit once expanded: 8193 x 8192 components decode to
    // 16386 x 16384 pixels, more than maxDecodedPixels.
    QVERIFY(qint64(16386) * 16384 > maxDecodedPixels);
    QVERIFY(writeFileBytes(QStringLiteral("wide.jpg"), withFrameSize(small, 8193, 8192)));
    error.clear();
    QVERIFY(decompressHybrid(QStringLiteral("wide.jpg"), testWeights(), &error).isNull());
    QVERIFY2(error.contains(QLatin1String("8193x8192")), qPrintable(error));
}

void TestHybridJpeg::headerSizesWithoutDecoding()
{
    ScratchDir scratch;
    const QImage photo = loadPhoto(QStringLiteral("chelsea.png")).copy(0, 0, 45, 31);
    QVERIFY(writeFileBytes(QStringLiteral("plain.jpg"), encodeJpeg(photo, 70)));
    QByteArray progressive;
    {
        QBuffer buffer(&progressive);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter writer(&buffer, "jpg");
        writer.setProgressiveScanWrite(true);
        writer.setOptimizedWrite(true);
        QVERIFY(writer.write(photo));
    }
    QVERIFY(writeFileBytes(QStringLiteral("progressive.jpg"), progressive));
    QVERIFY(photo.save(QStringLiteral("photo.png")));
    QVERIFY(photo.save(QStringLiteral("photo.ppm")));

    const QStringList files = {QStringLiteral("plain.jpg"), QStringLiteral("progressive.jpg"),
                               QStringLiteral("photo.png"), QStringLiteral("photo.ppm"),
                               photoPath(QStringLiteral("hubble_deep_field.jpg"))};
    for (const QString &file : files) {
        const QSize expected = QImageReader(file).size();
        QVERIFY2(expected.isValid(), qPrintable(file));
        QCOMPARE(readImageSize(file), expected);
    }
    QCOMPARE(readImageSize(photoPath(QStringLiteral("hubble_deep_field.jpg"))), QSize(1000, 872));
    // The truncated file ends in its tables, after the frame header: its
    // size is known although Qt's reader cannot tell it, and it does not load.
    const QString truncated = photoPath(QStringLiteral("truncated.jpg"));
    QCOMPARE(readImageSize(truncated), QSize(100, 100));
    QImage image;
    QString error;
    QVERIFY(!readImageFile(truncated, image, &error));
    QVERIFY2(error.contains(QLatin1String("truncated.jpg")), qPrintable(error));

    QVERIFY(writeFileBytes(QStringLiteral("text.jpg"), "no image"));
    QVERIFY(!readImageSize(QStringLiteral("text.jpg")).isValid());
    QVERIFY(!readImageSize(QStringLiteral("absent.jpg")).isValid());
    // A stream that ends inside its segments.
    QVERIFY(writeFileBytes(QStringLiteral("cut.jpg"), encodeJpeg(photo, 70).left(30)));
    QVERIFY(!readImageSize(QStringLiteral("cut.jpg")).isValid());
}

void TestHybridJpeg::unreadableHybridFilesAreFailures()
{
    ScratchDir scratch;
    // The marked header followed by nothing that decodes.
    QVERIFY(writeFileBytes(QStringLiteral("broken.jpg"), hybridHeader + QByteArray(200, 'x')));
    QVERIFY(isHybridJpeg(firstLineOf(QStringLiteral("broken.jpg"))));
    QString error;
    QVERIFY(decompressHybrid(QStringLiteral("broken.jpg"), testWeights(), &error).isNull());
    QVERIFY2(error.contains(QLatin1String("broken.jpg")), qPrintable(error));

    error.clear();
    QVERIFY(decompressHybrid(QStringLiteral("absent.jpg"), testWeights(), &error).isNull());
    QVERIFY2(error.contains(QLatin1String("absent.jpg")), qPrintable(error));
}

void TestHybridJpeg::tooSmallSourcesAreRefusedWithoutWriting()
{
    ScratchDir scratch;
    const QImage chelsea = loadPhoto(QStringLiteral("chelsea.png"));
    for (const QSize &size : {QSize(1, 1), QSize(1, 40), QSize(40, 1)}) {
        QString error;
        QVERIFY(compressHybrid(chelsea.copy(QRect(QPoint(0, 0), size)), 70, testWeights(), &error).isNull());
        QVERIFY2(!error.isEmpty(), qPrintable(error));
    }
    QString error;
    QVERIFY(compressHybrid(QImage(), 70, testWeights(), &error).isNull());
    QVERIFY(!error.isEmpty());
    QVERIFY(folderEntries(scratch.path()).isEmpty());
}

void TestHybridJpeg::failedWritesKeepTheEarlierFile()
{
    ScratchDir scratch;
    const QImage chelsea = loadPhoto(QStringLiteral("chelsea.png"));
    QString error;
    QVERIFY(!compressHybrid(chelsea.copy(0, 0, 30, 30), 70, testWeights(), &error).isNull());
    const QByteArray good = readFileBytes(QStringLiteral("hybrid.jpg"));

    // Refused sources and short tables leave the file of the earlier run.
    QVERIFY(compressHybrid(chelsea.copy(0, 0, 1, 30), 70, testWeights(), &error).isNull());
    QVERIFY(compressHybrid(chelsea.copy(0, 0, 30, 30), 70, testWeights().mid(0, 3), &error).isNull());
    QCOMPARE(readFileBytes(QStringLiteral("hybrid.jpg")), good);
    QCOMPARE(folderEntries(scratch.path()), QStringList{QStringLiteral("hybrid.jpg")});

    // A file in a folder that does not exist: the message names it.
    error.clear();
    QVERIFY(compressHybrid(chelsea.copy(0, 0, 30, 30), 70, testWeights(), &error, QStringLiteral("no/such/h.jpg"))
                .isNull());
    QVERIFY2(error.contains(QLatin1String("h.jpg")), qPrintable(error));
    QVERIFY(!QFileInfo::exists(QStringLiteral("no")));
}

void TestHybridJpeg::imageFilesAreWrittenWholeOrNotAtAll()
{
    ScratchDir scratch;
    const QImage photo = loadPhoto(QStringLiteral("camera.png")).copy(0, 0, 20, 20);
    QString error;
    QVERIFY2(writeImageFile(QStringLiteral("out.png"), photo, "png", -1, &error), qPrintable(error));
    const QByteArray good = readFileBytes(QStringLiteral("out.png"));
    QCOMPARE(QImage::fromData(good).convertToFormat(QImage::Format_Grayscale8),
             photo.convertToFormat(QImage::Format_Grayscale8));

    // An unknown format, an empty image: refused, the file kept, no
    // temporary file left beside it.
    QVERIFY(!writeImageFile(QStringLiteral("out.png"), photo, "nosuchformat", -1, &error));
    QVERIFY2(error.contains(QLatin1String("out.png")), qPrintable(error));
    QVERIFY(!writeImageFile(QStringLiteral("out.png"), QImage(), "png", -1, &error));
    QVERIFY2(error.contains(QLatin1String("out.png")), qPrintable(error));
    QCOMPARE(readFileBytes(QStringLiteral("out.png")), good);
    QCOMPARE(folderEntries(scratch.path()), QStringList{QStringLiteral("out.png")});

    // No folder to write in.
    QVERIFY(!writeImageFile(QStringLiteral("missing/out.png"), photo, "png", -1, &error));
    QVERIFY2(error.contains(QLatin1String("out.png")), qPrintable(error));

    // Reading back: a file that is no image names the file.
    QVERIFY(writeFileBytes(QStringLiteral("text.png"), "not an image"));
    QImage image(2, 2, QImage::Format_ARGB32);
    QVERIFY(!readImageFile(QStringLiteral("text.png"), image, &error));
    QVERIFY(image.isNull());
    QVERIFY2(error.contains(QLatin1String("text.png")), qPrintable(error));
    QVERIFY(readImageFile(QStringLiteral("out.png"), image, &error));
    QCOMPARE(image.size(), QSize(20, 20));
}

// Large images are decoded into memory of their own; what they decode to is
// what Qt's reader gives, format and pixels, for every kind of file.
void TestHybridJpeg::imageFilesReadAsQtReadsThem()
{
    ScratchDir scratch;
    const QImage photo = loadPhoto(QStringLiteral("astronaut.png")).scaled(1500, 1100);
    QImage alpha = photo.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < alpha.height(); ++y)
        for (int x = 0; x < alpha.width(); ++x)
            alpha.setPixel(x, y, (alpha.pixel(x, y) & 0xFFFFFFu) | (uint((x + y) & 0xFF) << 24));
    const struct
    {
        const char *name;
        QImage image;
        const char *format;
        int quality;
    } files[] = {
        {"colour.jpg", photo, "jpg", 85},
        {"grey.jpg", photo.convertToFormat(QImage::Format_Grayscale8), "jpg", 60},
        {"alpha.png", alpha, "png", -1},
        {"small.jpg", photo.copy(0, 0, 33, 17), "jpg", 90},
        {"indexed.bmp", photo.copy(0, 0, 300, 200).convertToFormat(QImage::Format_Indexed8), "bmp", -1},
    };
    for (const auto &file : files) {
        QVERIFY(file.image.save(QLatin1String(file.name), file.format, file.quality));
        const QImage expected(QLatin1String(file.name));
        QVERIFY(!expected.isNull());
        QImage read;
        QString error;
        QVERIFY2(readImageFile(QLatin1String(file.name), read, &error), qPrintable(error));
        QCOMPARE(read.format(), expected.format());
        QVERIFY2(read == expected, file.name);
        // A second read into the same variable gives the same again.
        QVERIFY(readImageFile(QLatin1String(file.name), read, &error));
        QVERIFY2(read == expected, file.name);
    }
}

QTEST_GUILESS_MAIN(TestHybridJpeg)
#include "test_hybridjpeg.moc"
