// The working-directory generator: every file the commands and experiments
// read, made from the photographs of data/, the same bytes on every run.

#include "experimentsupport.h"
#include "referencetransforms.h"
#include "testsupport.h"
#include "experiments/workdirgenerator.h"

#include <QBuffer>
#include <QImageReader>
#include <QImageWriter>
#include <QtTest>

#include <cmath>

using namespace veltrano;

using namespace experimenttest;

namespace {

QImage decodeBytes(const QByteArray &data)
{
    return QImage::fromData(data);
}

} // namespace

class TestWorkdir : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void everyFileAtItsSize();
    void copiesAreIdentical();
    void fireworksIsTheMiddleOfThePhoto();
    void textureSeries();
    void weightsFile();
    void hdrSeriesIsTheCodecOutput();
    void hdrSeriesSmoothsMoreWithTheRadius();
    void commandIsDeterministicAndFindsTheDataFolder();
    void failures();

private:
    QTemporaryDir generated;
    QString root;
    QString file(const QString &name) const { return root + QLatin1Char('/') + name; }
};

void TestWorkdir::initTestCase()
{
    QVERIFY(generated.isValid());
    root = generated.filePath(QStringLiteral("work"));
    QString error;
    int calls = 0;
    int lastDone = 0;
    int lastTotal = 0;
    QVERIFY2(generateWorkingDirectory(sourcePath(QStringLiteral("data")), root, &error,
                                      [&](int done, int total) {
                                          ++calls;
                                          QCOMPARE(done, lastDone + 1);
                                          lastDone = done;
                                          lastTotal = total;
                                      }),
             qPrintable(error));
    // One call per file, ending at the total.
    QCOMPARE(lastDone, lastTotal);
    QCOMPARE(calls, filesUnder(root).size());
}

void TestWorkdir::everyFileAtItsSize()
{
    struct Expected
    {
        QString name;
        QSize size;
    };
    QList<Expected> images{{QStringLiteral("in/fireworks.ppm"), QSize(400, 300)},
                           {QStringLiteral("in/texture.ppm"), QSize(256, 256)},
                           {QStringLiteral("out/hdr.ppm"), QSize(128, 96)},
                           {QStringLiteral("pattern.png"), QImage(sourcePath("data/pattern.png")).size()},
                           {QStringLiteral("hdr_triang_4.png"), QImage(sourcePath("data/hdr_triang_4.png")).size()}};
    for (int q = 0; q <= 100; q += 10) {
        images.append({QStringLiteral("temp/texture_bic_sm_%1.jpg").arg(q), QSize(256, 256)});
        images.append({QStringLiteral("temp/texture_bic_sm_%1.ppm").arg(q), QSize(256, 256)});
    }
    for (int i = 4; i <= 100; ++i)
        images.append({QStringLiteral("out/hdr_decompressed_ftih_4_0_%1_70.png").arg(i), QSize(128, 96)});

    QStringList expectedFiles{QStringLiteral("weights_out.txt")};
    for (const Expected &image : images) {
        expectedFiles << image.name;
        QImageReader reader(file(image.name));
        const QImage read = reader.read();
        QVERIFY2(!read.isNull(), qPrintable(image.name + QStringLiteral(": ") + reader.errorString()));
        QCOMPARE(read.size(), image.size);
        // The PPM files are colour images (P6), as the experiments name them.
        if (image.name.endsWith(QLatin1String(".ppm")))
            QCOMPARE(readFileBytes(file(image.name)).left(2), QByteArray("P6"));
    }
    for (const QString &photo : QDir(sourcePath(QStringLiteral("data/photos"))).entryList(QDir::Files))
        expectedFiles << QStringLiteral("photos/") + photo;
    QVERIFY(expectedFiles.contains(QStringLiteral("photos/LICENSE.txt")));
    expectedFiles.sort();
    // Nothing more, nothing less.
    QCOMPARE(filesUnder(root), expectedFiles);
}

void TestWorkdir::copiesAreIdentical()
{
    QStringList copies{QStringLiteral("pattern.png"), QStringLiteral("hdr_triang_4.png")};
    for (const QString &photo : QDir(sourcePath(QStringLiteral("data/photos"))).entryList(QDir::Files))
        copies << QStringLiteral("photos/") + photo;
    for (const QString &name : copies) {
        const QByteArray original = readFileBytes(sourcePath(QStringLiteral("data/") + name));
        QVERIFY(!original.isEmpty());
        QVERIFY2(readFileBytes(file(name)) == original, qPrintable(name));
    }
}

void TestWorkdir::fireworksIsTheMiddleOfThePhoto()
{
    const QImage photo = loadPhoto(QStringLiteral("hubble_deep_field.jpg"));
    QCOMPARE(photo.size(), QSize(1000, 872));
    const QImage fireworks(file(QStringLiteral("in/fireworks.ppm")));
    QVERIFY(sameColours(fireworks, photo.copy(300, 286, 400, 300)));
}

void TestWorkdir::textureSeries()
{
    const QImage texture(file(QStringLiteral("in/texture.ppm")));
    QCOMPARE(texture.size(), QSize(256, 256));
    // The brick photograph at half size: each pixel near the mean of its 2 x 2 block.
    const QImage brick = loadPhoto(QStringLiteral("brick.png"));
    double worst = 0.0;
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x) {
            const double mean = (qGray(brick.pixel(2 * x, 2 * y)) + qGray(brick.pixel(2 * x + 1, 2 * y))
                                 + qGray(brick.pixel(2 * x, 2 * y + 1)) + qGray(brick.pixel(2 * x + 1, 2 * y + 1)))
                / 4.0;
            worst = qMax(worst, std::fabs(qRed(texture.pixel(x, y)) - mean));
        }
    QVERIFY2(worst <= 2.0, qPrintable(QString::number(worst)));

    qint64 previousSize = 0;
    for (int q = 0; q <= 100; q += 10) {
        const QString base = QStringLiteral("temp/texture_bic_sm_%1").arg(q);
        const QByteArray jpeg = readFileBytes(file(base + QStringLiteral(".jpg")));
        // The texture as JPEG at quality q ...
        QVERIFY2(jpeg == jpegBytes(texture, q), qPrintable(base));
        QVERIFY(jpeg.size() > previousSize);
        previousSize = jpeg.size();
        // ... and that JPEG decoded.
        QVERIFY2(sameColours(QImage(file(base + QStringLiteral(".ppm"))), decodeBytes(jpeg)), qPrintable(base));
    }
}

void TestWorkdir::weightsFile()
{
    const QByteArray text = readFileBytes(file(QStringLiteral("weights_out.txt")));
    QVERIFY(text.endsWith('\n'));
    QVERIFY(!text.contains('\r'));
    const QList<QByteArray> lines = text.left(text.size() - 1).split('\n');
    QCOMPARE(lines.size(), 501);
    // The HDR series looks up ceil(100 * 20 / 4) = 500, the last line.
    for (int i = 0; i < lines.size(); ++i) {
        bool ok = false;
        const float value = QString::fromLatin1(lines.at(i)).toFloat(&ok);
        QVERIFY2(ok, lines.at(i).constData());
        const double t = i / 20.0;
        QCOMPARE(value, float(1.0 / (1.0 + t * t)));
        if (i > 0)
            QVERIFY(value < QString::fromLatin1(lines.at(i - 1)).toFloat());
    }
    QCOMPARE(QString::fromLatin1(lines.at(0)).toFloat(), 1.0f);
    QCOMPARE(QString::fromLatin1(lines.at(10)).toFloat(), 0.8f);
    QVERIFY(QString::fromLatin1(lines.at(500)).toFloat() > 0.0f);
}

// Every version of the HDR image is the reference through the slow
// transforms: step 4, kernel radius 4, components as JPEG at quality 70,
// inverse transform with radius i and the weights of the file.
void TestWorkdir::hdrSeriesIsTheCodecOutput()
{
    const QImage hdr(file(QStringLiteral("out/hdr.ppm")));
    QCOMPARE(hdr.size(), QSize(128, 96));
    const QImage components = referenceDirectFTransform(hdr, 4, raisedCosine(4));
    QCOMPARE(components.size(), QSize(32, 24));
    const QImage decoded = decodeBytes(jpegBytes(components, 70));
    const QList<float> weights = readWeights(file(QStringLiteral("weights_out.txt")));
    for (int radius : {4, 5, 7, 37, 100}) {
        const QString name = QStringLiteral("out/hdr_decompressed_ftih_4_0_%1_70.png").arg(radius);
        const QImage version(file(name));
        QVERIFY2(sameColours(version, referenceInverseFTransform(decoded, 128, 96, 4, radius, weights)),
                 qPrintable(name));
    }
}

void TestWorkdir::hdrSeriesSmoothsMoreWithTheRadius()
{
    const QImage hdr(file(QStringLiteral("out/hdr.ppm")));
    double previous = 0.0;
    for (int radius : {4, 8, 16, 32, 64, 100}) {
        const QImage version(file(QStringLiteral("out/hdr_decompressed_ftih_4_0_%1_70.png").arg(radius)));
        const double error = plainMse(hdr, version);
        QVERIFY2(error > previous,
                 qPrintable(QStringLiteral("radius %1: %2 after %3").arg(radius).arg(error).arg(previous)));
        previous = error;
    }
}

// ftjpeg workdir, run over an existing directory, writes the same bytes as
// the library call, taking the data folder beside its build when no --data
// is given; generated names are replaced, other files stay.
void TestWorkdir::commandIsDeterministicAndFindsTheDataFolder()
{
    QTemporaryDir scratch;
    QVERIFY(scratch.isValid());
    const QString target = scratch.filePath(QStringLiteral("a/b"));
    QVERIFY(QDir().mkpath(target + QStringLiteral("/out")));
    QVERIFY(writeFileBytes(target + QStringLiteral("/out/hdr.ppm"), "stale"));
    QVERIFY(writeFileBytes(target + QStringLiteral("/notes.txt"), "mine"));

    const ProcessResult result = runFtjpeg({QStringLiteral("workdir"), QStringLiteral("a/b")}, scratch.path());
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(result.out, QByteArray());
    // Progress is shown on a terminal only.
    QCOMPARE(result.err, QByteArray());
    QCOMPARE(readFileBytes(target + QStringLiteral("/notes.txt")), QByteArray("mine"));
    QVERIFY(QFile::remove(target + QStringLiteral("/notes.txt")));

    const QStringList files = filesUnder(root);
    QCOMPARE(filesUnder(target), files);
    for (const QString &name : files)
        QVERIFY2(readFileBytes(target + QLatin1Char('/') + name) == readFileBytes(file(name)), qPrintable(name));
}

void TestWorkdir::failures()
{
    QTemporaryDir scratch;
    QVERIFY(scratch.isValid());
    // A data folder without the photographs.
    ProcessResult result = runFtjpeg({QStringLiteral("workdir"), QStringLiteral("--data"), scratch.path(),
                                      scratch.filePath(QStringLiteral("w"))},
                                     scratch.path());
    QCOMPARE(result.exitCode, 1);
    QVERIFY2(result.err.startsWith("ftjpeg: ")
                 && result.err.contains(QDir::toNativeSeparators(scratch.path()).toLocal8Bit()),
             result.err.constData());
    QVERIFY(!QFileInfo::exists(scratch.filePath(QStringLiteral("w"))));

    // A target that is a file.
    QVERIFY(writeFileBytes(scratch.filePath(QStringLiteral("file")), "x"));
    QString error;
    QVERIFY(!generateWorkingDirectory(sourcePath(QStringLiteral("data")), scratch.filePath(QStringLiteral("file")),
                                      &error));
    QVERIFY2(error.contains(QLatin1String("file")), qPrintable(error));

    result = runFtjpeg({QStringLiteral("workdir")}, scratch.path());
    QCOMPARE(result.exitCode, 2);
    result = runFtjpeg({QStringLiteral("workdir"), QStringLiteral("--help")}, scratch.path());
    QCOMPARE(result.exitCode, 0);
    QVERIFY(result.out.contains("weights_out.txt"));
}

QTEST_MAIN(TestWorkdir)
#include "test_workdir.moc"
