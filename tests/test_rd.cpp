// ftjpeg rd as a process on small crops of the photographs: the points
// table and its agreement with ftjpeg compress and an independent JPEG
// encode, sharding and merging, --jobs, bad input files, command schemes
// (ftjpeg itself as a program from elsewhere, every fault of a program and
// of a spec); and the parts of
// the library a process run cannot reach (CSV round trip, progress text,
// plots).

#include "codec/qimage/hybridjpeg.h"
#include "metrics/imagemetrics.h"
#include "study/codecs/jpegcodec.h"
#include "study/rdcsv.h"
#include "study/rdmeasurement.h"
#include "study/rdoutput.h"
#include "study/rdplot.h"
#include "study/rdresamplescheme.h"
#include "study/rdvariantscheme.h"
#include "study/rdprogress.h"
#include "study/rdscheme.h"
#include "study/rdsummary.h"
#include "study/rdviewer.h"
#include "study/codecs/module/studycodecs.h"
#include "testsupport.h"
#include "experiments/workdirgenerator.h"

#include <QtTest>

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImageWriter>
#include <QProcess>
#include <QRegularExpression>

#include <cmath>

using namespace veltrano;

namespace {

const QStringList expectedColumns{
    QStringLiteral("image_index"), QStringLiteral("image"),         QStringLiteral("width"),
    QStringLiteral("height"),      QStringLiteral("scheme"),        QStringLiteral("quality"),
    QStringLiteral("size_bytes"),  QStringLiteral("bpp"),           QStringLiteral("psnr_db"),
    QStringLiteral("ssim"),        QStringLiteral("windowed_ssim"), QStringLiteral("encode_ms"),
    QStringLiteral("decode_ms"),   QStringLiteral("ms_ssim"),       QStringLiteral("butteraugli"),
    QStringLiteral("butteraugli_max"), QStringLiteral("file"),          QStringLiteral("header_bytes"),
    QStringLiteral("payload_bpp")};

// One CSV record's fields, quotes undone (RFC 4180, no line breaks).
QStringList csvFields(const QByteArray &line)
{
    QStringList fields{QString()};
    bool quoted = false;
    const QString text = QString::fromUtf8(line);
    for (int i = 0; i < text.size(); ++i) {
        if (text[i] == QLatin1Char('"')) {
            if (quoted && i + 1 < text.size() && text[i + 1] == QLatin1Char('"'))
                fields.last() += text[++i];
            else
                quoted = !quoted;
        } else if (text[i] == QLatin1Char(',') && !quoted) {
            fields.append(QString());
        } else {
            fields.last() += text[i];
        }
    }
    return fields;
}

// A table of fields.
struct Csv
{
    QStringList header;
    QVector<QStringList> rows;

    QString field(int row, const QString &column) const { return rows[row][header.indexOf(column)]; }
};

Csv readCsv(const QString &fileName)
{
    Csv csv;
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return csv;
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (int i = 0; i < lines.size(); ++i) {
        if (lines[i].isEmpty())
            continue;
        const QStringList fields = csvFields(lines[i]);
        if (i == 0)
            csv.header = fields;
        else
            csv.rows.append(fields);
    }
    return csv;
}

// points.csv without the two time columns, which vary from run to run.
QByteArray pointsWithoutTimes(const QString &fileName)
{
    const Csv csv = readCsv(fileName);
    const int encode = csv.header.indexOf(QStringLiteral("encode_ms"));
    const int decode = csv.header.indexOf(QStringLiteral("decode_ms"));
    QByteArray text;
    QVector<QStringList> all = csv.rows;
    all.prepend(csv.header);
    for (QStringList fields : all) {
        if (encode < 0 || decode < 0 || fields.size() != csv.header.size())
            return QByteArray("malformed");
        fields.removeAt(std::max(encode, decode));
        fields.removeAt(std::min(encode, decode));
        text += fields.join(QLatin1Char(',')).toUtf8() + '\n';
    }
    return text;
}

// A crop of a photograph, saved as PNG.
bool saveCrop(const QString &photo, const QRect &area, const QString &fileName)
{
    const QImage image = loadPhoto(photo);
    return !image.isNull() && image.copy(area).save(fileName, "png");
}

// PSNR over red, green and blue together, written out plainly.
double referencePsnr(const QImage &reference, const QImage &test)
{
    double sum = 0.0;
    for (int y = 0; y < reference.height(); ++y)
        for (int x = 0; x < reference.width(); ++x) {
            const QRgb a = reference.pixel(x, y);
            const QRgb b = test.pixel(x, y);
            const int dr = qRed(a) - qRed(b);
            const int dg = qGreen(a) - qGreen(b);
            const int db = qBlue(a) - qBlue(b);
            sum += dr * dr + dg * dg + db * db;
        }
    const double meanSquare = sum / (3.0 * reference.width() * reference.height());
    return 10.0 * std::log10(255.0 * 255.0 / meanSquare);
}

double number(const QString &text)
{
    bool ok = false;
    const double value = text.toDouble(&ok);
    return ok ? value : std::nan("");
}

// Standard error without the start-up notes of Qt itself.
QByteArray messages(const QByteArray &err)
{
    QByteArray kept;
    for (const QByteArray &line : err.split('\n'))
        if (!line.isEmpty() && !line.startsWith("QStandardPaths:"))
            kept += line + '\n';
    return kept;
}

// The two schemes the tests below are about, without matched ablations,
// unless the arguments name schemes or merge.
QStringList withSchemes(const QStringList &arguments)
{
    if (arguments.isEmpty() || arguments.contains(QStringLiteral("--merge"))
        || arguments.contains(QStringLiteral("--schemes")))
        return arguments;
    return arguments
        + QStringList{QStringLiteral("--schemes"), QStringLiteral("jpeg,hybrid"), QStringLiteral("--no-ablation")};
}

class RdRun
{
public:
    explicit RdRun(const QStringList &arguments, const QString &directory)
        : result(runProcess(binPath(QStringLiteral("ftjpeg")), QStringList{QStringLiteral("rd")} + withSchemes(arguments),
                            directory))
    {
    }
    ProcessResult result;
};

} // namespace

class TestRd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(scratch.isValid());
        QVERIFY(writeFileBytes(scratch.filePath(QStringLiteral("weights_out.txt")), testWeightsFileText()));
        QVERIFY(QDir(scratch.path()).mkpath(QStringLiteral("one")));
        QVERIFY(saveCrop(QStringLiteral("chelsea.png"), QRect(180, 90, 64, 48), scratch.filePath("one/cat.png")));
        // An odd size: a component image of 31 x 23 expands back to 63 x 47.
        QVERIFY(saveCrop(QStringLiteral("astronaut.png"), QRect(200, 120, 63, 47), scratch.filePath("one/odd.png")));
        const RdRun run({QStringLiteral("one"), QStringLiteral("--out"), QStringLiteral("out-one"),
                         QStringLiteral("--jobs"), QStringLiteral("1")},
                        scratch.path());
        QVERIFY2(run.result.exitCode == 0, run.result.err.constData());
        points = readCsv(scratch.filePath(QStringLiteral("out-one/points.csv")));
    }

    // CTest runs this program twice, as test_rd (VELTRANO_TEST_PART=light)
    // and test_rd_heavy (=heavy), so that the slowest cases run beside the
    // others on a second core; run by hand, without the variable, it runs
    // every case. A case not named here is light, so none is ever left out.
    void init()
    {
        static const QStringList heavy{QStringLiteral("shardsMergedEqualTheWholeRunAndJobsDoNotMatter"),
                                       // reads the shards the case above writes
                                       QStringLiteral("mergeRefusesOverlapsAndWarnsOfMissingShards"),
                                       QStringLiteral("commandSchemeFaultsSkipTheirPointsOnly"),
                                       QStringLiteral("progressOnATerminalOnly")};
        const QByteArray part = qgetenv("VELTRANO_TEST_PART");
        if (part.isEmpty())
            return;
        const bool isHeavy = heavy.contains(QString::fromLatin1(QTest::currentTestFunction()));
        if ((part == "heavy") != isHeavy)
            QSKIP("run by the other part of this test");
    }

    void pointsTableHasEveryPoint()
    {
        QCOMPARE(points.header, expectedColumns);
        QCOMPARE(points.rows.size(), 2 * 42);
        for (int row = 0; row < points.rows.size(); ++row) {
            QCOMPARE(points.rows[row].size(), expectedColumns.size());
            // Images in name order, JPEG then hybrid, qualities rising.
            const int image = row / 42;
            QCOMPARE(points.field(row, "image_index"), QString::number(image));
            QCOMPARE(points.field(row, "image"), image == 0 ? QStringLiteral("one/cat.png") : QStringLiteral("one/odd.png"));
            QCOMPARE(points.field(row, "width"), image == 0 ? QStringLiteral("64") : QStringLiteral("63"));
            QCOMPARE(points.field(row, "height"), image == 0 ? QStringLiteral("48") : QStringLiteral("47"));
            QCOMPARE(points.field(row, "scheme"), row % 42 < 21 ? QStringLiteral("jpeg") : QStringLiteral("hybrid"));
            QCOMPARE(points.field(row, "quality"), QString::number(row % 21 * 5));
            // bpp: the bits in single precision over the pixels, in double,
            // written so that it reads back exactly.
            const qint64 size = points.field(row, "size_bytes").toLongLong();
            const int pixels = image == 0 ? 64 * 48 : 63 * 47;
            QCOMPARE(number(points.field(row, "bpp")), double(float(size * 8)) / pixels);
            const double psnr = number(points.field(row, "psnr_db"));
            const double ssim = number(points.field(row, "ssim"));
            const double windowed = number(points.field(row, "windowed_ssim"));
            QVERIFY(psnr > 10.0 && psnr < 100.0);
            QVERIFY(ssim > 0.0 && ssim <= 1.0);
            QVERIFY(windowed > 0.0 && windowed <= 1.0);
            QVERIFY(number(points.field(row, "encode_ms")) >= 0.0);
            QVERIFY(number(points.field(row, "decode_ms")) >= 0.0);
        }
    }

    void jpegSizesGrowWithQuality()
    {
        // On this crop every step of 5 makes the file larger (quality 0
        // reaches libjpeg as 1, still below 5).
        int strictSteps = 0;
        for (int row = 1; row < 21; ++row) {
            const qint64 previous = points.field(row - 1, "size_bytes").toLongLong();
            const qint64 size = points.field(row, "size_bytes").toLongLong();
            QVERIFY2(size >= previous, qPrintable(QStringLiteral("quality %1").arg(row * 5)));
            strictSteps += size > previous;
        }
        QCOMPARE(strictSteps, 20);
        // The hybrid sizes grow with the component quality too.
        for (int row = 22; row < 42; ++row)
            QVERIFY(points.field(row, "size_bytes").toLongLong() > points.field(row - 1, "size_bytes").toLongLong());
    }

    void jpegRowsMatchAnIndependentEncode()
    {
        const QImage source(scratch.filePath(QStringLiteral("one/cat.png")));
        QVERIFY(!source.isNull());
        // The crop keeps the photograph's XMP text, which Qt's writer would
        // store as comments (3 kB); the study's files code pixels only.
        QVERIFY(source.text(QStringLiteral("XML:com.adobe.xmp")).size() > 2000);
        const QImage pixels = QImage(source.constBits(), source.width(), source.height(), source.bytesPerLine(),
                                     source.format()).copy();
        for (int quality : {0, 35, 100}) {
            QByteArray data;
            QBuffer buffer(&data);
            buffer.open(QIODevice::WriteOnly);
            QVERIFY(pixels.save(&buffer, "jpg", quality));
            const int row = quality / 5;
            QCOMPARE(points.field(row, "size_bytes").toLongLong(), qint64(data.size()));
            const QImage decoded = QImage::fromData(data);
            QCOMPARE(points.field(row, "ssim").toFloat(), ssim(source, decoded));
            const double psnr = number(points.field(row, "psnr_db"));
            QVERIFY2(std::fabs(psnr - referencePsnr(source, decoded)) < 1e-9 * psnr,
                     qPrintable(QString::number(psnr, 'g', 17)));
        }
    }

    void hybridRowsEqualFtjpegCompress()
    {
        QList<float> weights;
        for (const QByteArray &line : testWeightsFileText().split('\n'))
            if (!line.isEmpty())
                weights.append(line.toFloat());
        for (int image = 0; image < 2; ++image) {
            const QString name = image == 0 ? QStringLiteral("one/cat.png") : QStringLiteral("one/odd.png");
            const QImage source(scratch.filePath(name));
            // Every quality on the first image, three on the odd-sized one.
            const QVector<int> qualities = image == 0 ? QVector<int>{0, 5, 10, 15, 20, 25, 30, 35, 40, 45, 50, 55, 60,
                                                                    65, 70, 75, 80, 85, 90, 95, 100}
                                                      : QVector<int>{0, 50, 100};
            for (int quality : qualities) {
                const int row = image * 42 + 21 + quality / 5;
                const ProcessResult compress =
                    runProcess(binPath(QStringLiteral("ftjpeg")),
                               {QStringLiteral("compress"), name, QStringLiteral("h.jpg"), QStringLiteral("--quality"),
                                QString::number(quality), QStringLiteral("--decoded"), QStringLiteral("h.png")},
                               scratch.path());
                QVERIFY2(compress.exitCode == 0, compress.err.constData());
                const QByteArray file = readFileBytes(scratch.filePath(QStringLiteral("h.jpg")));
                QCOMPARE(points.field(row, "size_bytes").toLongLong(), qint64(file.size()));
                // compress prints the bpp with six significant digits.
                QCOMPARE(QString::number(number(points.field(row, "bpp")), 'g', 6),
                         QString::fromLatin1(compress.out.trimmed()));
                // The same bytes (the components carry a fixed 72 dpi, not
                // the screen's, in this GUI process too) and the same decoded
                // image, so the same figures.
                QString error;
                QCOMPARE(encodeHybridJpeg(source, quality, &error), file);
                const QImage decoded(scratch.filePath(QStringLiteral("h.png")));
                QCOMPARE(decodeHybridJpeg(file, source.width(), source.height(), weights, &error)
                             .convertToFormat(QImage::Format_RGB32),
                         decoded.convertToFormat(QImage::Format_RGB32));
                QCOMPARE(points.field(row, "ssim").toFloat(), ssim(source, decoded));
                const double psnr = number(points.field(row, "psnr_db"));
                QVERIFY(std::fabs(psnr - referencePsnr(source, decoded)) < 1e-9 * psnr);
            }
        }
    }

    void summaryHasEveryImageAndTheAverage()
    {
        const Csv summary = readCsv(scratch.filePath(QStringLiteral("out-one/summary.csv")));
        QCOMPARE(summary.header.mid(0, 9), QStringList({"image_index", "image", "bd_rate_percent", "bd_psnr_db",
                                                        "bpp_low", "bpp_high", "psnr_low", "psnr_high",
                                                        "jpeg_bd_rate_percent"}));
        QCOMPARE(summary.rows.size(), 3);
        QCOMPARE(summary.field(2, "image"), QStringLiteral("average"));
        const double rate0 = number(summary.field(0, "bd_rate_percent"));
        const double rate1 = number(summary.field(1, "bd_rate_percent"));
        QVERIFY(std::isfinite(rate0) && std::isfinite(rate1));
        QVERIFY(std::fabs(number(summary.field(2, "bd_rate_percent")) - (rate0 + rate1) / 2.0) < 1e-12);
        // The report stands alone: its plots are embedded.
        const QByteArray html = readFileBytes(scratch.filePath(QStringLiteral("out-one/report.html")));
        QCOMPARE(html.count("<img src=\"data:image/png;base64,"), 3);
        QVERIFY(html.contains("one/cat.png") && html.contains("one/odd.png"));
        QVERIFY(!html.contains("http"));
        for (const char *plot : {"plot-cat.png", "plot-odd.png", "plot-average.png"}) {
            const QImage image(scratch.filePath(QStringLiteral("out-one/") + plot));
            QCOMPARE(image.size(), QSize(RdPlot::width, RdPlot::height));
        }
    }

    void shardsMergedEqualTheWholeRunAndJobsDoNotMatter()
    {
        QVERIFY(QDir(scratch.path()).mkpath(QStringLiteral("many")));
        QVERIFY(saveCrop(QStringLiteral("astronaut.png"), QRect(100, 100, 40, 32), scratch.filePath("many/a.png")));
        QVERIFY(saveCrop(QStringLiteral("camera.png"), QRect(200, 150, 33, 40), scratch.filePath("many/b.png")));
        QVERIFY(saveCrop(QStringLiteral("gravel.png"), QRect(10, 300, 48, 24), scratch.filePath("many/c.png")));
        QVERIFY(saveCrop(QStringLiteral("brick.png"), QRect(0, 0, 24, 24), scratch.filePath("many/d.bmp")));
        QVERIFY(writeFileBytes(scratch.filePath(QStringLiteral("many/notes.txt")), "not an image"));
        const struct
        {
            QString out;
            QStringList options;
        } runs[] = {{QStringLiteral("whole1"), {QStringLiteral("--jobs"), QStringLiteral("1"), QStringLiteral("--view")}},
                    {QStringLiteral("whole2"), {QStringLiteral("--jobs"), QStringLiteral("2")}},
                    {QStringLiteral("shard0"), {QStringLiteral("--shard"), QStringLiteral("0/2"), QStringLiteral("--view")}},
                    {QStringLiteral("shard1"), {QStringLiteral("--shard"), QStringLiteral("1/2"),
                                                QStringLiteral("--jobs"), QStringLiteral("2")}}};
        // The hybrid scheme with its default matched ablations, which bring
        // jpeg-opt along: four schemes of 21 points each.
        for (const auto &run : runs) {
            const RdRun rd(QStringList{QStringLiteral("many"), QStringLiteral("--schemes"), QStringLiteral("hybrid"),
                                       QStringLiteral("--out"), run.out}
                               + run.options,
                           scratch.path());
            QVERIFY2(rd.result.exitCode == 0, rd.result.err.constData());
        }
        const Csv first = readCsv(scratch.filePath("shard0/points.csv"));
        QCOMPARE(first.rows.size(), 2 * 84);
        QStringList schemes;
        for (int row = 0; row < 84; row += 21)
            schemes.append(first.field(row, "scheme"));
        QCOMPARE(schemes, QStringList({"hybrid", "jpeg-opt", "resample:down=box,up=bilinear@hybrid",
                                       "resample:down=lanczos,up=lanczos@hybrid"}));
        QCOMPARE(readCsv(scratch.filePath("shard1/points.csv")).rows.size(), 2 * 84);
        QCOMPARE(readCsv(scratch.filePath("shard1/points.csv")).field(0, "image"), QStringLiteral("many/b.png"));

        // Merged in either order.
        const RdRun merge({QStringLiteral("--merge"), QStringLiteral("shard1"), QStringLiteral("shard0"),
                           QStringLiteral("--out"), QStringLiteral("merged")},
                          scratch.path());
        QVERIFY2(merge.result.exitCode == 0, merge.result.err.constData());
        QVERIFY2(messages(merge.result.err).isEmpty(), merge.result.err.constData());

        const QByteArray whole = pointsWithoutTimes(scratch.filePath("whole1/points.csv"));
        QCOMPARE(whole.count('\n'), 1 + 4 * 84);
        QCOMPARE(pointsWithoutTimes(scratch.filePath("whole2/points.csv")), whole);
        QCOMPARE(pointsWithoutTimes(scratch.filePath("merged/points.csv")), whole);
        for (const char *table : {"summary.csv", "skipped.csv"}) {
            const QByteArray expected = readFileBytes(scratch.filePath(QStringLiteral("whole1/") + table));
            QVERIFY(!expected.isEmpty());
            QCOMPARE(readFileBytes(scratch.filePath(QStringLiteral("whole2/") + table)), expected);
            QCOMPARE(readFileBytes(scratch.filePath(QStringLiteral("merged/") + table)), expected);
        }
        // Same plots, pixel for pixel.
        for (const char *plot : {"plot-a.png", "plot-d.png", "plot-average.png"})
            QCOMPARE(QImage(scratch.filePath(QStringLiteral("merged/") + plot)),
                     QImage(scratch.filePath(QStringLiteral("whole1/") + plot)));

        // The viewer of a merge takes the decoded images of the shards that
        // kept them, the very files of a whole run, and names the images
        // whose shard did not.
        const RdRun viewMerge({QStringLiteral("--merge"), QStringLiteral("shard0"), QStringLiteral("shard1"),
                               QStringLiteral("--view"), QStringLiteral("--out"), QStringLiteral("merged-view")},
                              scratch.path());
        QVERIFY2(viewMerge.result.exitCode == 0, viewMerge.result.err.constData());
        QVERIFY2(viewMerge.result.err.contains("no decoded images of 2 of 4 images")
                     && viewMerge.result.err.contains("many/b.png, many/d.bmp"),
                 viewMerge.result.err.constData());
        const QStringList decoded = QDir(scratch.filePath("whole1/view/c")).entryList(QDir::Files);
        QCOMPARE(decoded.size(), 1 + 84);
        for (const QString &file : decoded)
            QCOMPARE(readFileBytes(scratch.filePath("merged-view/view/c/" + file)),
                     readFileBytes(scratch.filePath("whole1/view/c/" + file)));
        QVERIFY(QFileInfo(scratch.filePath("merged-view/view/a/original.png")).isFile());
        QVERIFY(!QFileInfo::exists(scratch.filePath("merged-view/view/b")));
        const QByteArray index = readFileBytes(scratch.filePath("merged-view/view/index.js"));
        QVERIFY2(index.contains("\"folder\":\"view/c\"") && index.contains("\"folder\":\"\""), index.left(300).constData());
        QVERIFY(readFileBytes(scratch.filePath("merged-view/report.html")).contains("its shard ran without --view"));
    }

    void mergeRefusesOverlapsAndWarnsOfMissingShards()
    {
        // Runs after the sharding test, which made shard0.
        const RdRun twice({QStringLiteral("--merge"), QStringLiteral("shard0"), QStringLiteral("shard0"),
                           QStringLiteral("--out"), QStringLiteral("bad-merge")},
                          scratch.path());
        QCOMPARE(twice.result.exitCode, 1);
        QVERIFY2(twice.result.err.contains("more than one"), twice.result.err.constData());
        QVERIFY(!QFile::exists(scratch.filePath(QStringLiteral("bad-merge/points.csv"))));

        const RdRun partial({QStringLiteral("--merge"), QStringLiteral("shard0"), QStringLiteral("--out"),
                             QStringLiteral("partial")},
                            scratch.path());
        QCOMPARE(partial.result.exitCode, 0);
        QVERIFY2(partial.result.err.contains("shards missing: 1/2"), partial.result.err.constData());

        const RdRun missing({QStringLiteral("--merge"), QStringLiteral("nowhere")}, scratch.path());
        QCOMPARE(missing.result.exitCode, 1);
        QVERIFY(missing.result.err.contains("nowhere"));
    }

    void badImagesAreReportedAndSkipped()
    {
        QVERIFY(QDir(scratch.path()).mkpath(QStringLiteral("mixed")));
        QVERIFY(saveCrop(QStringLiteral("chelsea.png"), QRect(0, 0, 32, 32), scratch.filePath("mixed/good.png")));
        QVERIFY(QFile::copy(sourcePath(QStringLiteral("tests/data/truncated.jpg")), scratch.filePath("mixed/broken.jpg")));
        QVERIFY(writeFileBytes(scratch.filePath(QStringLiteral("mixed/fake.png")), "this is text, not a PNG\n"));
        // Too small for a component image.
        QVERIFY(QImage(1, 5, QImage::Format_RGB32).save(scratch.filePath("mixed/thin.png"), "png"));
        const RdRun run({QStringLiteral("mixed"), QStringLiteral("--out"), QStringLiteral("out-mixed")},
                        scratch.path());
        QCOMPARE(run.result.exitCode, 0);
        const QString err = QString::fromLocal8Bit(run.result.err);
        for (const char *name : {"mixed/broken.jpg", "mixed/fake.png", "mixed/thin.png"})
            QVERIFY2(err.contains(QLatin1String(name)), qPrintable(err));
        QVERIFY2(err.contains(QLatin1String("3 of 4 images were skipped")), qPrintable(err));
        QVERIFY2(!err.contains(QLatin1Char('\r')), qPrintable(err)); // no progress bar off a terminal
        const Csv skipped = readCsv(scratch.filePath(QStringLiteral("out-mixed/skipped.csv")));
        QCOMPARE(skipped.header, QStringList({"image_index", "image", "reason", "scheme"}));
        QCOMPARE(skipped.rows.size(), 3);
        QCOMPARE(skipped.rows[0][1], QStringLiteral("mixed/broken.jpg"));
        QCOMPARE(readCsv(scratch.filePath(QStringLiteral("out-mixed/points.csv"))).rows.size(), 42);
        QVERIFY(run.result.out.contains("1 image measured, 3 skipped"));
    }

    void foldersAreSearchedDeepWithoutAWeightsFile()
    {
        // A folder without weights_out.txt; the output folder lies inside the
        // corpus and holds a PNG already, which is no input.
        const QString tree = scratch.filePath(QStringLiteral("tree"));
        QVERIFY(QDir(tree).mkpath(QStringLiteral("corpus/sub")));
        QVERIFY(QDir(tree).mkpath(QStringLiteral("corpus/rd-out")));
        QVERIFY(saveCrop(QStringLiteral("chelsea.png"), QRect(40, 40, 24, 20), tree + "/corpus/top.png"));
        QVERIFY(saveCrop(QStringLiteral("camera.png"), QRect(90, 90, 20, 24), tree + "/corpus/sub/deep.png"));
        QVERIFY(saveCrop(QStringLiteral("brick.png"), QRect(0, 0, 20, 20), tree + "/corpus/rd-out/plot-old.png"));
        const RdRun run({QStringLiteral("corpus"), QStringLiteral("--out"), QStringLiteral("corpus/rd-out")}, tree);
        QVERIFY2(run.result.exitCode == 0, run.result.err.constData());
        QVERIFY2(run.result.err.contains("note: no weights_out.txt here"), run.result.err.constData());
        const Csv deep = readCsv(tree + QStringLiteral("/corpus/rd-out/points.csv"));
        QCOMPARE(deep.rows.size(), 2 * 42);
        QCOMPARE(deep.field(0, "image"), QStringLiteral("corpus/sub/deep.png"));
        QCOMPARE(deep.field(42, "image"), QStringLiteral("corpus/top.png"));

        // The table it falls back on is the one the working directory gets.
        QByteArray table;
        for (int i = 0; i < workingDirectoryWeightCount; ++i)
            table += QByteArray::number(workingDirectoryWeight(i), 'g', 9) + '\n';
        QVERIFY(writeFileBytes(tree + QStringLiteral("/table.txt"), table));
        const RdRun explicitTable({QStringLiteral("corpus/sub"), QStringLiteral("corpus/top.png"),
                                   QStringLiteral("--weights"), QStringLiteral("table.txt"), QStringLiteral("--out"),
                                   QStringLiteral("explicit")},
                                  tree);
        QVERIFY2(explicitTable.result.exitCode == 0, explicitTable.result.err.constData());
        QVERIFY(!explicitTable.result.err.contains("note:"));
        QCOMPARE(pointsWithoutTimes(tree + QStringLiteral("/explicit/points.csv")),
                 pointsWithoutTimes(tree + QStringLiteral("/corpus/rd-out/points.csv")));
    }

    void progressOnATerminalOnly()
    {
        // Under script(1) standard error is a terminal: the bar is redrawn in
        // place and ends with the total time; standard output stays clean.
        const QString command = QStringLiteral("'%1' rd one/cat.png --out out-tty --jobs 1 --schemes jpeg,hybrid --no-ablation 2>&1 >tty-out.txt")
                                    .arg(binPath(QStringLiteral("ftjpeg")));
        const ProcessResult run = runProcess(QStringLiteral("script"),
                                             {QStringLiteral("-qec"), command, QStringLiteral("/dev/null")},
                                             scratch.path());
        QVERIFY2(run.exitCode == 0, run.out.constData());
        QVERIFY2(run.out.contains("\r[") && run.out.contains("] 100% 42/42 points") && run.out.contains(" in all"),
                 run.out.constData());
        const QByteArray out = readFileBytes(scratch.filePath(QStringLiteral("tty-out.txt")));
        QVERIFY2(out.startsWith("out-tty/report.html: 1 image measured") && !out.contains('\r'), out.constData());
    }

    void interruptedRunLeavesNoTable()
    {
        // The run is stopped by SIGTERM, as a user's kill would stop it, in
        // the middle of its work: after the 42 points of jpeg and hybrid on
        // its first image, the encoder of a third scheme marks that it has
        // started and then waits as long as ftjpeg lives, so the run cannot
        // go on (nor end) before the signal, however slow the machine.
        QVERIFY(QDir(scratch.path()).mkpath(QStringLiteral("large")));
        QVERIFY(saveCrop(QStringLiteral("chelsea.png"), QRect(100, 50, 64, 48), scratch.filePath("large/chelsea.png")));
        QVERIFY(saveCrop(QStringLiteral("gravel.png"), QRect(0, 0, 48, 48), scratch.filePath("large/gravel.png")));
        const QString started = scratch.filePath(QStringLiteral("held-encoder-started"));
        const QString held = QStringLiteral("name=held, settings=1, encode=sh -c ': > \"$1\"; while kill -0 $PPID; do "
                                            "sleep 1; done' sh '%1' {in} {out}, decode=cp {in} {out}")
                                 .arg(started);
        QProcess process;
        process.setWorkingDirectory(scratch.path());
        process.start(binPath(QStringLiteral("ftjpeg")),
                      {QStringLiteral("rd"), QStringLiteral("large"), QStringLiteral("--schemes"),
                       QStringLiteral("jpeg,hybrid"), QStringLiteral("--command"), held,
                       QStringLiteral("--command-timeout"), QStringLiteral("100000"), QStringLiteral("--out"),
                       QStringLiteral("out-cut"), QStringLiteral("--jobs"), QStringLiteral("1"),
                       QStringLiteral("--view")});
        QVERIFY(process.waitForStarted());
        // A generous deadline: the wait ends as soon as the encoder starts.
        const bool reached = QTest::qWaitFor(
            [&] { return QFileInfo::exists(started) || process.state() == QProcess::NotRunning; }, 240000);
        QVERIFY2(reached && QFileInfo::exists(started) && process.state() == QProcess::Running,
                 process.readAllStandardError().constData());
        // What the signal has to clear away is there.
        QVERIFY(QFileInfo(scratch.filePath(QStringLiteral(".out-cut.new"))).isDir());
        QVERIFY(QFileInfo::exists(scratch.filePath(QStringLiteral(".out-cut.lock"))));
        process.terminate();
        QVERIFY(process.waitForFinished(240000));
        QCOMPARE(process.exitStatus(), QProcess::CrashExit);
        QVERIFY2(process.readAllStandardOutput().isEmpty(), "the run reported results");
        const QStringList left = QDir(scratch.filePath(QStringLiteral("out-cut")))
                                     .entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
        QVERIFY2(left.filter(QStringLiteral(".csv")).isEmpty(), qPrintable(left.join(QLatin1Char(' '))));
        // Nor the new folder, with the viewer's folders of decoded images.
        QVERIFY(!QFileInfo::exists(scratch.filePath(QStringLiteral(".out-cut.new"))));
        QVERIFY(!QFileInfo::exists(scratch.filePath(QStringLiteral(".out-cut.lock"))));
    }

    void failuresBeforeAnyWork()
    {
        const RdRun noWeights({QStringLiteral("one"), QStringLiteral("--weights"), QStringLiteral("missing.txt"),
                               QStringLiteral("--out"), QStringLiteral("out-noweights")},
                              scratch.path());
        QCOMPARE(noWeights.result.exitCode, 1);
        QVERIFY2(noWeights.result.err.contains("missing.txt"), noWeights.result.err.constData());
        QVERIFY(!QFile::exists(scratch.filePath(QStringLiteral("out-noweights"))));

        for (const QStringList &arguments :
             {QStringList{QStringLiteral("one"), QStringLiteral("--shard"), QStringLiteral("2/2")},
              QStringList{QStringLiteral("one"), QStringLiteral("--shard"), QStringLiteral("1")},
              QStringList{QStringLiteral("one"), QStringLiteral("--jobs"), QStringLiteral("0")},
              QStringList{QStringLiteral("--merge"), QStringLiteral("x"), QStringLiteral("--jobs"), QStringLiteral("2")},
              QStringList{QStringLiteral("--merge"), QStringLiteral("x"), QStringLiteral("--keep"), QStringLiteral("k")},
              QStringList{QStringLiteral("one"), QStringLiteral("--schemes"), QStringLiteral("jpeg,jpeg")},
              QStringList{QStringLiteral("one"), QStringLiteral("--schemes"), QStringLiteral(",")},
              QStringList{QStringLiteral("one"), QStringLiteral("--schemes"), QStringLiteral("jpeg,webp2")},
              QStringList{QStringLiteral("one"), QStringLiteral("--schemes"), QStringLiteral("hybrid"),
                          QStringLiteral("--ablation"), QStringLiteral("box-box")},
              QStringList{QStringLiteral("one"), QStringLiteral("--ablation"), QStringLiteral("all"),
                          QStringLiteral("--no-ablation")},
              QStringList{QStringLiteral("one"), QStringLiteral("--resample"), QStringLiteral("down=bilinear")},
              QStringList{QStringLiteral("--merge"), QStringLiteral("x"), QStringLiteral("--no-ablation")},
              QStringList()}) {
            const RdRun run(arguments, scratch.path());
            QVERIFY2(run.result.exitCode == 2, qPrintable(arguments.join(QLatin1Char(' '))));
            if (arguments.contains(QStringLiteral("box-box")))
                QVERIFY2(run.result.err.contains("--ablation: 'box-box' is not a filter pair"), run.result.err.constData());
            if (arguments.contains(QStringLiteral("jpeg,webp2")))
                QVERIFY2(run.result.err.contains("unknown scheme 'webp2'")
                             && run.result.err.contains("jpeg, hybrid, jpeg-opt, resample-box, resample-lanczos, "
                                                        "webp, avif, jxl"),
                         run.result.err.constData());
        }
        QVERIFY(!QFile::exists(scratch.filePath(QStringLiteral("rd"))));

        QVERIFY(QDir(scratch.path()).mkpath(QStringLiteral("empty")));
        const RdRun empty({QStringLiteral("empty")}, scratch.path());
        QCOMPARE(empty.result.exitCode, 1);
        QVERIFY(empty.result.err.contains("no images"));
    }

    void studyCodecsAreAModuleLoadedWhenUsed()
    {
        // No program needs libjxl, libavif or libwebp to start; the module
        // that calls them does.
        const QString module = studyCodecsModulePath();
        const QRegularExpression codecLibrary(QStringLiteral("\\[lib(jxl|avif|webp|hwy)[.-]"));
        for (const QString &file : {binPath(QStringLiteral("ftjpeg")),
                                    QDir(binPath(QString())).filePath(QStringLiteral("../lib/veltrano/ftjpeg.so")),
                                    binPath(QStringLiteral("veltrano")),
                                    binPath(QStringLiteral("ssimdiff_cygwin")), QCoreApplication::applicationFilePath(),
                                    module}) {
            const ProcessResult readelf = runProcess(QStringLiteral("readelf"), {QStringLiteral("-d"), file});
            QVERIFY2(readelf.exitCode == 0 && readelf.out.contains("(NEEDED)"), qPrintable(file));
            QStringList needed;
            for (const QByteArray &line : readelf.out.split('\n'))
                if (line.contains("(NEEDED)") && codecLibrary.match(QString::fromUtf8(line)).hasMatch())
                    needed.append(codecLibrary.match(QString::fromUtf8(line)).captured(1));
            needed.sort();
            if (file == module)
                QCOMPARE(needed, (QStringList{QStringLiteral("avif"), QStringLiteral("jxl"), QStringLiteral("webp")}));
            else
                QVERIFY2(needed.isEmpty(), qPrintable(file + QStringLiteral(" needs ") + needed.join(QLatin1Char(' '))));
        }

        // A copy of ftjpeg outside the build tree looks for the module in its
        // own installation, <prefix>/bin/../<libdir>/veltrano/. Without it, or
        // with a file there that is no module, it refuses before measuring.
        QTemporaryDir prefix;
        QVERIFY(prefix.isValid() && QDir(prefix.path()).mkpath(QStringLiteral("bin")));
        const QString copy = prefix.filePath(QStringLiteral("bin/ftjpeg"));
        QVERIFY(QFile::copy(binPath(QStringLiteral("ftjpeg")), copy));
        const QStringList arguments{QStringLiteral("rd"), QStringLiteral("one/cat.png"), QStringLiteral("--schemes"),
                                    QStringLiteral("webp,avif,jxl"), QStringLiteral("--out"),
                                    QStringLiteral("out-copy")};
        // The executable finds the rest of ftjpeg there too, and refuses
        // to run without it.
        ProcessResult run = runProcess(copy, arguments, scratch.path());
        QCOMPARE(run.exitCode, 1);
        const QRegularExpressionMatch noProgram =
            QRegularExpression(QStringLiteral("^ftjpeg: ftjpeg's commands are in the module (/.+/veltrano/ftjpeg\\.so), "
                                              "which cannot be loaded: cannot open shared object file: No such file "
                                              "or directory$"))
                .match(QString::fromUtf8(run.err.trimmed()));
        QVERIFY2(noProgram.hasMatch() && noProgram.captured(1).startsWith(prefix.path() + QStringLiteral("/")),
                 run.err.constData());
        QVERIFY(QDir().mkpath(QFileInfo(noProgram.captured(1)).path()));
        QVERIFY(QFile::copy(QDir(binPath(QString())).filePath(QStringLiteral("../lib/veltrano/ftjpeg.so")),
                            noProgram.captured(1)));
        run = runProcess(copy, arguments, scratch.path());
        QCOMPARE(run.exitCode, 1);
        const QRegularExpressionMatch refusal =
            QRegularExpression(QStringLiteral("^ftjpeg: WebP, AVIF, JPEG XL and Butteraugli need the module (/.+), "
                                              "which cannot be loaded: (.+)$"))
                .match(QString::fromUtf8(messages(run.err).trimmed()));
        QVERIFY2(refusal.hasMatch(), run.err.constData());
        const QString installed = refusal.captured(1);
        QVERIFY2(installed.startsWith(prefix.path() + QStringLiteral("/"))
                     && installed.endsWith(QStringLiteral("/veltrano/") + QFileInfo(module).fileName()),
                 qPrintable(installed));
        QCOMPARE(refusal.captured(2), QStringLiteral("cannot open shared object file: No such file or directory"));
        QVERIFY(run.out.isEmpty() && !QFile::exists(scratch.filePath(QStringLiteral("out-copy"))));

        QVERIFY(QDir().mkpath(QFileInfo(installed).path()));
        QVERIFY(writeFileBytes(installed, QByteArray(4096, 'x')));
        run = runProcess(copy, arguments, scratch.path());
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.contains(QStringLiteral("need the module %1, which cannot be loaded: invalid ELF header")
                                      .arg(installed)
                                      .toUtf8()),
                 run.err.constData());
        QVERIFY(!QFile::exists(scratch.filePath(QStringLiteral("out-copy"))));

        // With the module in its place, the copy measures every point.
        QVERIFY(QFile::remove(installed) && QFile::copy(module, installed));
        run = runProcess(copy, arguments, scratch.path());
        QVERIFY2(run.exitCode == 0, run.err.constData());
        const Csv measured = readCsv(scratch.filePath(QStringLiteral("out-copy/points.csv")));
        QStringList schemes;
        for (int row = 0; row < measured.rows.size(); ++row) {
            if (!schemes.contains(measured.field(row, "scheme")))
                schemes.append(measured.field(row, "scheme"));
            const double butteraugli = number(measured.field(row, "butteraugli"));
            QVERIFY2(std::isfinite(butteraugli) && butteraugli > 0.0, qPrintable(measured.rows[row].join(',')));
        }
        QCOMPARE(schemes, (QStringList{QStringLiteral("webp"), QStringLiteral("avif"), QStringLiteral("jxl")}));
        QVERIFY(measured.rows.size() > 3 * 10);
    }

    void everySchemeIsKeptAndAFailingSchemeReported()
    {
        // A table of one weight: the hybrid scheme fails on the image, the
        // other schemes are measured, each file kept.
        QVERIFY(QDir(scratch.path()).mkpath(QStringLiteral("all")));
        QVERIFY(saveCrop(QStringLiteral("chelsea.png"), QRect(120, 50, 170, 165), scratch.filePath("all/photo.png")));
        QVERIFY(writeFileBytes(scratch.filePath(QStringLiteral("short.txt")), "1\n"));
        const RdRun run({QStringLiteral("all"), QStringLiteral("--out"), QStringLiteral("out-all"),
                         QStringLiteral("--keep"), QStringLiteral("kept"), QStringLiteral("--weights"),
                         QStringLiteral("short.txt"), QStringLiteral("--schemes"),
                         rdStandardSchemeNames().join(QLatin1Char(',')), QStringLiteral("--no-ablation")},
                        scratch.path());
        QVERIFY2(run.result.exitCode == 0, run.result.err.constData());
        QVERIFY2(run.result.err.contains("ftjpeg: hybrid failed on all/photo.png: hybrid at 0: ")
                     && run.result.err.contains("weights"),
                 run.result.err.constData());
        const Csv skipped = readCsv(scratch.filePath(QStringLiteral("out-all/skipped.csv")));
        QCOMPARE(skipped.rows.size(), 1);
        // The reason holds a comma, so the scheme is read from the end.
        QCOMPARE(skipped.rows[0].last(), QStringLiteral("hybrid"));

        const Csv all = readCsv(scratch.filePath(QStringLiteral("out-all/points.csv")));
        const QImage source(scratch.filePath(QStringLiteral("all/photo.png")));
        int row = 0;
        for (const RdScheme &scheme : rdStandardSchemes(QList<float>())) {
            if (scheme.name == hybridScheme())
                continue;
            double firstPsnr = 0.0;
            for (int setting : scheme.settings) {
                QVERIFY(row < all.rows.size());
                QCOMPARE(all.field(row, "scheme"), scheme.name);
                QCOMPARE(all.field(row, "quality"), QString::number(setting));
                const QString file = QStringLiteral("kept/photo/%1_%2.%3").arg(scheme.name).arg(setting).arg(scheme.suffix);
                QCOMPARE(all.field(row, "file"), file);
                const QByteArray data = readFileBytes(scratch.filePath(file));
                QCOMPARE(qint64(data.size()), all.field(row, "size_bytes").toLongLong());
                const double psnr = number(all.field(row, "psnr_db"));
                if (setting == scheme.settings.front())
                    firstPsnr = psnr;
                if (setting == scheme.settings.back())
                    QVERIFY2(psnr > firstPsnr + 5.0, qPrintable(scheme.name));
                // The kept file gives the figures of its row.
                QString error;
                const QImage decoded = scheme.decode(data, source.size(), &error);
                QVERIFY2(std::fabs(referencePsnr(source, decoded) - psnr) < 1e-9 * psnr, qPrintable(file));
                const double msSsim = number(all.field(row, "ms_ssim"));
                const double butteraugli = number(all.field(row, "butteraugli"));
                QVERIFY(msSsim > 0.0 && msSsim < 1.0);
                QVERIFY(butteraugli > 0.0 && number(all.field(row, "butteraugli_max")) >= butteraugli);
                ++row;
            }
        }
        QCOMPARE(row, all.rows.size());

        // Files kept inside the input folder are no inputs of the next run.
        for (int run = 0; run < 2; ++run) {
            const RdRun again({QStringLiteral("all"), QStringLiteral("--schemes"), QStringLiteral("jpeg"),
                               QStringLiteral("--keep"), QStringLiteral("all/kept"), QStringLiteral("--out"),
                               QStringLiteral("out-again")},
                              scratch.path());
            QVERIFY2(again.result.exitCode == 0, again.result.err.constData());
        }
        QVERIFY(QFile::exists(scratch.filePath(QStringLiteral("all/kept/photo/jpeg_100.jpg"))));
        const Csv again = readCsv(scratch.filePath(QStringLiteral("out-again/points.csv")));
        QCOMPARE(again.rows.size(), 21);
        QCOMPARE(again.field(20, "image"), QStringLiteral("all/photo.png"));
    }

    void matchedAblationsCodeAsTheirSchemes()
    {
        const QImage colour = loadPhoto(QStringLiteral("chelsea.png")).copy(180, 90, 64, 48);
        const QImage grey = loadPhoto(QStringLiteral("camera.png")).copy(200, 150, 61, 40);
        QList<float> weights;
        for (int i = 0; i < workingDirectoryWeightCount; ++i)
            weights.append(workingDirectoryWeight(i));
        QString error;

        // Step 1 with box reduction and bilinear expansion is the identity:
        // the resampling then codes as jpeg-opt, point for point.
        RdResampleSpec identity;
        QVERIFY(parseRdResampleSpec(QStringLiteral("step=1,optimize,progressive"), &identity, &error));
        const RdScheme same = rdResampleScheme(identity);
        QCOMPARE(same.name, QStringLiteral("resample:down=box,up=bilinear,step=1,optimize,progressive"));
        QVector<RdScheme> optimised;
        QVERIFY(selectRdSchemes({QStringLiteral("jpeg-opt")}, weights, &optimised, &error));
        for (int quality : rdQualities()) {
            const QByteArray a = optimised[0].encode(colour, quality, &error);
            const QByteArray b = same.encode(colour, quality, &error);
            QCOMPARE(b.size(), a.size());
            QCOMPARE(jpegHeaderBytes(b), jpegHeaderBytes(a));
            QCOMPARE(same.decode(b, colour.size(), &error), optimised[0].decode(a, colour.size(), &error));
        }

        // The ablations of an F-transform scheme store their reduction with
        // its writer: the same markers, tables and frame (grey components in
        // three channels for the classic file, one for a variant), less the
        // mark at byte 12 and the variant segment, whose bytes are the
        // difference in header bytes.
        RdVariantSpec variantSpec;
        QVERIFY(parseRdVariantSpec(QStringLiteral("step=3,rradius=2,chroma=444"), &variantSpec, &error));
        const QVector<RdScheme> tested{rdStandardSchemes(weights)[1], rdVariantScheme(variantSpec, weights)};
        for (const RdScheme &scheme : tested) {
            const QVector<RdResampleSpec> ablations = rdMatchedAblations(scheme, rdDefaultAblationPairs());
            QCOMPARE(ablations.size(), 2);
            QCOMPARE(rdResampleSchemeName(ablations[1]), QStringLiteral("resample:down=lanczos,up=lanczos@") + scheme.name);
            QCOMPARE(rdAblationTarget(rdResampleSchemeName(ablations[1])), scheme.name);
            for (const QImage &source : {colour, grey}) {
                const QByteArray file = scheme.encode(source, 40, &error);
                for (const RdResampleSpec &spec : ablations) {
                    const RdScheme ablation = rdResampleScheme(spec);
                    const QByteArray reduced = ablation.encode(source, 40, &error);
                    QVERIFY2(!reduced.isEmpty(), qPrintable(error));
                    const int segment = scheme.name == hybridScheme() ? 0 : 39 + 8 * 3;
                    QCOMPARE(jpegHeaderBytes(file) - jpegHeaderBytes(reduced), qint64(segment));
                    const int tables = int(reduced.indexOf("\xFF\xDA"));
                    QByteArray expected = reduced.left(tables);
                    expected[12] = 0x04;
                    QCOMPARE(file.left(20) + file.mid(20 + segment, tables - 20), expected);
                    const QImage decoded = ablation.decode(reduced, source.size(), &error);
                    QCOMPARE(decoded.size(), source.size());
                    QVERIFY(psnr(source, decoded) > 20.0);
                }
            }
        }
        // Optimised tables and progressive scans carry over too.
        QVERIFY(parseRdVariantSpec(QStringLiteral("optimize,progressive"), &variantSpec, &error));
        const RdScheme progressive = rdResampleScheme(
            rdMatchedAblations(rdVariantScheme(variantSpec, weights), rdDefaultAblationPairs())[0]);
        QCOMPARE(progressive.encode(colour, 40, &error).size(),
                 encodeJpeg(reduceImage(colour, 2, ResampleFilter::Box), 40, true, &error).size());
        // No ablations of a scheme without an F-transform reduction.
        QVERIFY(rdMatchedAblations(optimised[0], rdDefaultAblationPairs()).isEmpty());
        QCOMPARE(rdAblationTarget(QStringLiteral("resample-box")), QString());

        // Header bytes: everything but the entropy-coded data, counted by
        // hand on a file made of one empty scan.
        const QByteArray handMade = QByteArray::fromHex("FFD8" "FFDA000C03010002110311003F00" "12FF00FFD034" "FFD9");
        QCOMPARE(jpegHeaderBytes(handMade), qint64(handMade.size() - 4));
        for (const QByteArray &bad : {QByteArray("not a jpeg"), QByteArray::fromHex("FFD8FFDB0001"),
                                      QByteArray::fromHex("FFD8FFDB00FF00")})
            QCOMPARE(jpegHeaderBytes(bad), qint64(-1));

        // Bad specs name the key.
        for (const char *bad : {"down=bicubic", "up=box", "step=0", "step=x", "optimize=1", "chroma=422", "step=2,step=3",
                                "sharpen"}) {
            RdResampleSpec spec;
            QVERIFY2(!parseRdResampleSpec(QString::fromLatin1(bad), &spec, &error), bad);
        }
        QVector<QPair<ResampleFilter, ResampleFilter>> pairs;
        QVERIFY(parseRdAblationPairs(QStringLiteral("all"), &pairs, &error) && pairs.size() == 6);
        for (const char *bad : {"box", "bilinear-box", "box-bilinear,box-bilinear", ""})
            QVERIFY2(!parseRdAblationPairs(QString::fromLatin1(bad), &pairs, &error), bad);
    }

    void summaryRowByHand()
    {
        // Lines in log10 rate L, at 1, 2, 4 and 8 bpp: hybrid PSNR 30 + 10 L,
        // the anchor 29 + 12 L, the same figures as SSIM in dB. The anchor
        // overtakes the hybrid at L = 0.5.
        RdStudy study;
        RdImageResult image;
        image.image = QStringLiteral("lines.png");
        image.width = image.height = 64;
        for (const QString &scheme : {hybridScheme(), QStringLiteral("webp")})
            for (int k = 0; k < 4; ++k) {
                RdPoint point;
                point.scheme = scheme;
                point.quality = k;
                point.bpp = double(1 << k);
                const double l = std::log10(point.bpp);
                point.psnr = scheme == hybridScheme() ? 30.0 + 10.0 * l : 29.0 + 12.0 * l;
                point.windowedSsim = 1.0 - std::pow(10.0, -point.psnr / 10.0);
                image.points.append(point);
            }
        study.images.append(image);
        const QByteArray csv = RdCsv::summaryCsv(summarizeStudy(study));
        const QList<QByteArray> lines = csv.split('\n');
        QCOMPARE(lines.size(), 4); // header, the image, the average, the final line end
        const QStringList header = QString::fromLatin1(lines[0]).split(QLatin1Char(','));
        const QStringList fields = QString::fromLatin1(lines[1]).split(QLatin1Char(','));
        QCOMPARE(fields.size(), header.size());
        const auto value = [&](const char *column) {
            return number(fields.value(header.indexOf(QStringLiteral("webp_") + QLatin1String(column))));
        };
        // At equal rate: the mean of 1 - 2 L over L in [0, log10 8].
        const double top = std::log10(8.0);
        const double bdPsnr = 1.0 - top;
        // At equal quality Q in [30, 30 + 10 top]: the mean of
        // (Q - 30) / 10 - (Q - 29) / 12, linear in Q, so its midpoint value.
        const double middle = 30.0 + 5.0 * top;
        const double bdRate = (std::pow(10.0, (middle - 30.0) / 10.0 - (middle - 29.0) / 12.0) - 1.0) * 100.0;
        for (const char *prefix : {"", "ssim_"}) {
            const QByteArray p(prefix);
            QVERIFY(std::fabs(value(p.isEmpty() ? "bd_psnr_db" : "bd_ssim_db") - bdPsnr) < 1e-9);
            QVERIFY(std::fabs(value(p.isEmpty() ? "bd_rate_percent" : "bd_rate_ssim_percent") - bdRate) < 1e-9);
            QVERIFY(std::fabs(value(p + "crossover_bpp") - std::sqrt(10.0)) < 1e-9);
        }
        QCOMPARE(value("bpp_low"), 1.0);
        QVERIFY(std::fabs(value("bpp_high") - 8.0) < 1e-12);
        QCOMPARE(value("psnr_low"), 30.0);
        QVERIFY(std::fabs(value("psnr_high") - (30.0 + 10.0 * top)) < 1e-12);
        // No plain JPEG points: its deltas are empty.
        QCOMPARE(fields[2], QString());
    }

    void hullVerdictFromTheNames()
    {
        // The lines of the hand-made hull (test_bdrate): jpeg-opt 30 + 10 L,
        // the ablation matched to hybrid 32 + 4 L, hybrid 31 + 10 L; an
        // ablation matched to a scheme the study lacks is left out.
        RdStudy study;
        RdImageResult image;
        image.image = QStringLiteral("lines.png");
        const QStringList schemes{hybridScheme(), QStringLiteral("jpeg-opt"),
                                  QStringLiteral("resample:down=box,up=bilinear@hybrid"),
                                  QStringLiteral("resample:down=box,up=bilinear@hybrid:step=3")};
        const double base[] = {31.0, 30.0, 32.0, 50.0};
        const double slope[] = {10.0, 10.0, 4.0, 0.0};
        for (int s = 0; s < schemes.size(); ++s)
            for (int k = 0; k < 2; ++k) {
                RdPoint point;
                point.scheme = schemes[s];
                point.quality = k;
                point.bpp = k == 0 ? 1.0 : 10.0;
                point.psnr = base[s] + slope[s] * k;
                point.windowedSsim = 0.9;
                image.points.append(point);
            }
        study.images = {image, image};
        study.images[1].index = 1;
        const RdSummary summary = summarizeStudy(study);
        QCOMPARE(summary.tested, QStringList{hybridScheme()});
        QCOMPARE(summary.hullMembers[0], QStringList({"jpeg-opt", "resample:down=box,up=bilinear@hybrid"}));
        const QList<QByteArray> lines = RdCsv::summaryCsv(summary).split('\n');
        const QStringList header = csvFields(lines[0]);
        const auto field = [&](int line, const QString &column) {
            return number(csvFields(lines[line]).value(header.indexOf(column)));
        };
        const double expected = (std::pow(10.0, -1.0 / 12.0) - 1.0) * 100.0;
        for (int line : {1, 2, 3}) {
            QVERIFY(std::fabs(field(line, QStringLiteral("hybrid_hull_bd_rate_percent")) - expected) < 1e-2);
            // hybrid is above jpeg-opt everywhere: with it, the same hull.
            QVERIFY(std::fabs(field(line, QStringLiteral("hybrid_with_jpeg_opt_hull_bd_psnr_db")) - 2.0 / 3.0) < 1e-3);
        }
        // Two equal images: the interval is the value itself.
        QCOMPARE(field(3, QStringLiteral("hybrid_hull_bd_rate_ci_low")), field(3, QStringLiteral("hybrid_hull_bd_rate_percent")));
        QCOMPARE(field(3, QStringLiteral("hybrid_hull_bd_rate_max")), field(1, QStringLiteral("hybrid_hull_bd_rate_percent")));
        QVERIFY(std::isnan(field(1, QStringLiteral("hybrid_hull_bd_rate_ci_low"))));
        // The existing columns come first, unchanged.
        QCOMPARE(header.mid(0, 3), QStringList({"image_index", "image", "bd_rate_percent"}));
        QVERIFY(header.indexOf(QStringLiteral("hybrid_hull_bd_rate_percent"))
                > header.indexOf(QStringLiteral("resample:down=box,up=bilinear@hybrid_ssim_crossover_bpp")));
    }

    void csvReadsBackWhatItWrites()
    {
        RdStudy study;
        RdImageResult image;
        image.index = 7;
        image.image = QStringLiteral("dir, with \"quotes\"/a.png");
        image.width = 3;
        image.height = 2;
        RdPoint point;
        point.scheme = hybridScheme();
        point.quality = 35;
        point.sizeBytes = 1234;
        point.bpp = double(float(1234 * 8)) / 6.0;
        point.psnr = 1.0 / 3.0;
        point.ssim = 0.1f;
        point.windowedSsim = std::nextafter(0.9, 1.0);
        point.encodeMs = 1.25;
        point.headerBytes = 607;
        point.payloadBpp = double(float((1234 - 607) * 8)) / 6.0;
        image.points.append(point);
        point.scheme = jpegScheme();
        point.psnr = std::numeric_limits<double>::infinity();
        point.headerBytes = -1;
        point.payloadBpp = std::nan("");
        image.points.append(point);
        study.images.append(image);
        study.skipped.append(RdSkippedImage{2, QStringLiteral("b.png"), QStringLiteral("cannot read b.png: bad, \"x\""),
                                             QString()});

        QVector<RdImageResult> images;
        QString error;
        QVERIFY2(RdCsv::parsePoints(RdCsv::pointsCsv(study), QStringLiteral("points.csv"), &images, &error),
                 qPrintable(error));
        QCOMPARE(images.size(), 1);
        QCOMPARE(images[0].image, image.image);
        QCOMPARE(images[0].index, 7);
        QCOMPARE(images[0].points.size(), 2);
        for (int i = 0; i < 2; ++i) {
            const RdPoint &a = images[0].points[i];
            const RdPoint &b = image.points[i];
            QCOMPARE(a.scheme, b.scheme);
            QCOMPARE(a.sizeBytes, b.sizeBytes);
            QCOMPARE(a.bpp, b.bpp);
            QCOMPARE(a.psnr, b.psnr);
            QCOMPARE(a.ssim, b.ssim);
            QCOMPARE(a.windowedSsim, b.windowedSsim);
            QCOMPARE(a.encodeMs, b.encodeMs);
            QCOMPARE(a.headerBytes, b.headerBytes);
            QVERIFY(a.payloadBpp == b.payloadBpp || (std::isnan(a.payloadBpp) && std::isnan(b.payloadBpp)));
        }
        // A table written before the header columns existed still reads.
        QByteArray older;
        for (const QByteArray &line : RdCsv::pointsCsv(study).split('\n'))
            if (!line.isEmpty())
                older += line.left(line.lastIndexOf(',', line.lastIndexOf(',') - 1)) + '\n';
        QVERIFY(older.startsWith("image_index,") && older.contains(",file\n"));
        QVERIFY2(RdCsv::parsePoints(older, QStringLiteral("points.csv"), &images, &error), qPrintable(error));
        QCOMPARE(images.last().points[0].headerBytes, qint64(-1));
        QVERIFY(std::isnan(images.last().points[0].payloadBpp));
        // Floats in their own shortest form, not widened to double.
        QVERIFY(RdCsv::pointsCsv(study).contains(",0.1,"));
        QVector<RdSkippedImage> skipped;
        QVERIFY(RdCsv::parseSkipped(RdCsv::skippedCsv(study), QStringLiteral("skipped.csv"), &skipped, &error));
        QCOMPARE(skipped.size(), 1);
        QCOMPARE(skipped[0].reason, study.skipped[0].reason);

        // A damaged table names the file and line.
        QByteArray damaged = RdCsv::pointsCsv(study);
        damaged.replace("1234", "12x4");
        QVERIFY(!RdCsv::parsePoints(damaged, QStringLiteral("points.csv"), &images, &error));
        QVERIFY2(error.contains("points.csv, line 2") && error.contains("12x4"), qPrintable(error));
    }

    void progressEstimatesTheTimeLeft()
    {
        QVERIFY(RdProgress::line(0, 84, 0).contains("0/84 points"));
        // Half done after 10 s: 10 s to go.
        const QByteArray half = RdProgress::line(42, 84, 10000);
        QVERIFY2(half.contains(" 50%") && half.contains("0:10 left"), half.constData());
        QVERIFY2(RdProgress::line(21, 84, 65000).contains("3:15 left"), RdProgress::line(21, 84, 65000).constData());
        QVERIFY(RdProgress::line(84, 84, 3723000).contains("1:02:03 in all"));
    }

    void viewerNamesSchemesThatCannotBeComparedAtOneRate()
    {
        RdImageResult image;
        image.index = 3;
        const auto add = [&image](const QString &scheme, std::initializer_list<double> rates) {
            for (double bpp : rates) {
                RdPoint point;
                point.scheme = scheme;
                point.bpp = bpp;
                image.points.append(point);
            }
        };
        add("a", {0.1, 0.2, 0.4, 0.8, 1.6});
        add("b", {0.3, 0.6, 1.2, 2.4, NAN});
        add("d", {0.25, 1.5});
        const QVector<RdSkippedImage> failures{{3, "x.png", "it broke", "c"}, {4, "y.png", "elsewhere", "d"}};
        const RdViewer::SharedRates rates = RdViewer::sharedRates(image, {"a", "b", "c", "d"}, failures);
        QVERIFY(rates.shared);
        QCOMPARE(rates.low, 0.3);
        QCOMPARE(rates.high, 1.5);
        QCOMPARE(rates.notes, QStringList({"c failed on this image: it broke",
                                           "d has 1 point between 0.300 and 1.50 bpp, the rates all schemes share"}));

        // Ranges that do not meet: the viewer's control spans the gap.
        add("e", {5.0, 6.0});
        const RdViewer::SharedRates apart = RdViewer::sharedRates(image, {"a", "e"}, {});
        QVERIFY(!apart.shared);
        QCOMPARE(apart.low, 1.6);
        QCOMPARE(apart.high, 5.0);
        QCOMPARE(apart.notes.size(), 1);
        QVERIFY2(apart.notes[0].startsWith("the schemes share no bit rate"), qPrintable(apart.notes[0]));

        // Scheme names as file names: nothing a file name cannot hold, and
        // no two schemes on one file.
        QCOMPARE(RdViewer::pointFileName("hybrid:weights=w/1%.txt,step=3", 40),
                 QStringLiteral("hybrid:weights=w%2F1%25.txt,step=3_40.png"));
        QVERIFY(RdViewer::pointFileName("a_b", 5) != RdViewer::pointFileName("a/b", 5));
        QVERIFY(RdViewer::pointFileName("a%2Fb", 5) != RdViewer::pointFileName("a/b", 5));
    }

    void plotShowsBothCurves()
    {
        QVector<RdPoint> jpeg;
        QVector<RdPoint> hybrid;
        for (int q = 0; q <= 100; q += 5) {
            RdPoint point;
            point.quality = q;
            point.bpp = 0.2 + q * 0.05;
            point.psnr = 25.0 + q * 0.15;
            point.windowedSsim = 0.6 + q * 0.003;
            jpeg.append(point);
            point.bpp /= 2.0;
            point.psnr -= 1.0;
            hybrid.append(point);
        }
        const QImage plot = RdPlot(QStringLiteral("test"), jpeg, hybrid).render();
        QCOMPARE(plot.size(), QSize(RdPlot::width, RdPlot::height));
        int blue = 0;
        int red = 0;
        int dark = 0;
        for (int y = 0; y < plot.height(); ++y)
            for (int x = 0; x < plot.width(); ++x) {
                const QRgb p = plot.pixel(x, y);
                blue += p == RdPlot::schemeColour(jpegScheme()).rgb();
                red += p == RdPlot::schemeColour(hybridScheme()).rgb();
                dark += qGray(p) < 80;
            }
        QVERIFY(blue > 500);
        QVERIFY(red > 500);
        QVERIFY(dark > 2000); // axes and text
    }

    void commandSchemeWrappingFtjpegGivesTheHybridPoints()
    {
        // ftjpeg compress and inverse as programs from elsewhere: the very
        // bytes and figures of the built-in scheme at each setting.
        const QString ftjpeg = binPath(QStringLiteral("ftjpeg"));
        const QString weights = scratch.filePath(QStringLiteral("weights_out.txt"));
        const QString spec = QStringLiteral("name=wrapped, settings=0:100:50, suffix=jpg,"
                                            "encode=%1 compress {in} {out} --quality {setting} --weights '%2',"
                                            "decode=%1 inverse {in} {out} --size {width}x{height} --weights \"%2\"")
                                 .arg(ftjpeg, weights);
        const RdRun run({QStringLiteral("one/odd.png"), QStringLiteral("--schemes"), QStringLiteral("hybrid"),
                         QStringLiteral("--no-ablation"), QStringLiteral("--command"), spec, QStringLiteral("--out"),
                         QStringLiteral("out-wrapped"), QStringLiteral("--keep"), QStringLiteral("kept-wrapped")},
                        scratch.path());
        QVERIFY2(run.result.exitCode == 0, run.result.err.constData());
        const Csv table = readCsv(scratch.filePath(QStringLiteral("out-wrapped/points.csv")));
        QCOMPARE(table.rows.size(), 21 + 3);
        for (int k = 0; k < 3; ++k) {
            const int hybridRow = k * 10;
            const int wrappedRow = 21 + k;
            QCOMPARE(table.field(wrappedRow, "scheme"), QStringLiteral("wrapped"));
            QCOMPARE(table.field(wrappedRow, "quality"), QString::number(k * 50));
            QCOMPARE(table.field(hybridRow, "quality"), QString::number(k * 50));
            for (const char *column : {"size_bytes", "bpp", "psnr_db", "ssim", "windowed_ssim", "ms_ssim",
                                       "butteraugli", "butteraugli_max", "header_bytes", "payload_bpp"})
                QCOMPARE(table.field(wrappedRow, column), table.field(hybridRow, column));
            const QString kept = QStringLiteral("kept-wrapped/odd/wrapped_%1.jpg").arg(k * 50);
            QCOMPARE(table.field(wrappedRow, "file"), kept);
            QCOMPARE(readFileBytes(scratch.filePath(kept)),
                     readFileBytes(scratch.filePath(QStringLiteral("kept-wrapped/odd/hybrid_%1.jpg").arg(k * 50))));
        }
        QVERIFY(readFileBytes(scratch.filePath(QStringLiteral("out-wrapped/summary.csv"))).contains("wrapped_bd_rate"));
        QVERIFY(readFileBytes(scratch.filePath(QStringLiteral("out-wrapped/report.html"))).contains("wrapped"));
    }

    void commandSchemeFaultsSkipTheirPointsOnly()
    {
        // Every fault of a program from elsewhere, each once, in a scheme
        // file; each scheme is measured where it works.
        QVERIFY(saveCrop(QStringLiteral("camera.png"), QRect(0, 0, 10, 10), scratch.filePath("other.png")));
        const QByteArray schemes =
            "# faults, one per scheme\n"
            "\n"
            "name=copy, settings=5+7+9, encode=sh -c 'test \"$1\" != 7 || { echo \"a,b\" >&2; echo \"seven, "
            "refused\" >&2; exit 4; }; cp \"$2\" \"$3\"' sh {setting} {in} {out}, decode=cp {in} {out}\n"
            "   # a comment after blanks\n"
            "name=missing, settings=1, encode=/nonexistent/encoder {in} {out}, decode=cp {in} {out}\n"
            "name=silent, settings=1, encode=true {in} {out}, decode=cp {in} {out}\n"
            "name=junk, settings=1, encode=sh -c 'echo junk > \"$2\"' sh {in} {out}, decode=cp {in} {out}\n"
            "name=small, settings=1, input=png, encode=cp {in} {out}, decode=sh -c 'cp \"$1\" \"$3\"' sh "
            + scratch.filePath("other.png").toUtf8() + " {in} {out}\n"
              "name=slow, settings=1, encode=sh -c 'sleep 60 & echo $! > \"$1\"; sleep 60' sh "
            + scratch.filePath("left.pid").toUtf8() + " {in} {out}, decode=cp {in} {out}\n"
              "name=crash, settings=1, encode=cp {in} {out}, decode=sh -c 'kill -SEGV $$' sh {in} {out}\n";
        QVERIFY(writeFileBytes(scratch.filePath(QStringLiteral("faults.txt")), schemes));
        const RdRun run({QStringLiteral("one/cat.png"), QStringLiteral("--schemes"), QStringLiteral("jpeg"),
                         QStringLiteral("--scheme-file"), QStringLiteral("faults.txt"), QStringLiteral("--jobs"),
                         QStringLiteral("2"), QStringLiteral("--command-timeout"), QStringLiteral("3"),
                         QStringLiteral("--out"), QStringLiteral("out-faults")},
                        scratch.path());
        QVERIFY2(run.result.exitCode == 0, run.result.err.constData());
        const Csv table = readCsv(scratch.filePath(QStringLiteral("out-faults/points.csv")));
        QCOMPARE(table.rows.size(), 21 + 2);
        // A copy of the source: the bytes of the PPM, and no loss.
        const QString ppmBytes = QString::number(QByteArray("P6\n64 48\n255\n").size() + 64 * 48 * 3);
        for (int row : {21, 22}) {
            QCOMPARE(table.field(row, "scheme"), QStringLiteral("copy"));
            QCOMPARE(table.field(row, "size_bytes"), ppmBytes);
            QCOMPARE(table.field(row, "psnr_db"), QStringLiteral("inf"));
        }
        QCOMPARE(table.field(21, "quality"), QStringLiteral("5"));
        QCOMPARE(table.field(22, "quality"), QStringLiteral("9"));

        const Csv skipped = readCsv(scratch.filePath(QStringLiteral("out-faults/skipped.csv")));
        QHash<QString, QString> reasons;
        for (const QStringList &row : skipped.rows)
            reasons.insert(row.last(), row[2]);
        QCOMPARE(skipped.rows.size(), 7);
        QCOMPARE(reasons.value("copy"), QStringLiteral("copy at 7: the encoder 'sh' exited with status 4: seven, refused"));
        QCOMPARE(reasons.value("missing"),
                 QStringLiteral("missing at 1: cannot run the encoder '/nonexistent/encoder': No such file or directory"));
        QCOMPARE(reasons.value("silent"), QStringLiteral("silent at 1: the encoder 'true' wrote no file encoded.bin"));
        QVERIFY2(reasons.value("junk").startsWith("junk at 1: the decoder's output cannot be read: "),
                 qPrintable(reasons.value("junk")));
        QCOMPARE(reasons.value("small"), QStringLiteral("small at 1: the decoder's output has 10x10 pixels, the source 64x48"));
        QCOMPARE(reasons.value("slow"), QStringLiteral("slow at 1: the encoder 'sh' did not end within 3 s and was killed"));
        QVERIFY2(reasons.value("crash").startsWith("crash at 1: the decoder 'sh' was ended by signal 11"),
                 qPrintable(reasons.value("crash")));
        // The time-out ended the whole group, the program the shell started
        // in the background too: it is gone, or a zombie left to init.
        const QByteArray pid = readFileBytes(scratch.filePath(QStringLiteral("left.pid"))).trimmed();
        QVERIFY(!pid.isEmpty());
        QFile stat(QStringLiteral("/proc/%1/stat").arg(QString::fromLatin1(pid)));
        if (stat.open(QIODevice::ReadOnly))
            QVERIFY2(stat.readAll().contains(") Z "), pid.constData());
        QVERIFY2(run.result.err.contains("ftjpeg: slow failed on one/cat.png: slow at 1:"), run.result.err.constData());

        // Malformed specs are usage errors, naming the fault.
        const struct
        {
            QStringList arguments;
            const char *message;
        } bad[] = {
            {{"--command", "name=x,settings=1,encode=cp {in} {out}"}, "has no decode="},
            {{"--command", "name=x,settings=1,encode=cp {in} {out},decode=cp {in} {out},shell=yes"}, "not a command key"},
            {{"--command", "name=x,settings=1,encode=cp '{in} {out},decode=cp {in} {out}"}, "does not end"},
            {{"--command", "name=x,settings=1,encode=cp {in} {file},decode=cp {in} {out}"}, "names {file}"},
            {{"--command", "name=x,settings=1,encode=cp {in},decode=cp {in} {out}"}, "has no {out}"},
            {{"--command", "name=x,settings=1,encode=cp {in} {out},decode=cp {in} {out} {setting}"}, "names {setting}"},
            {{"--command", "name=x,settings=9+3,encode=cp {in} {out},decode=cp {in} {out}"}, "must rise"},
            {{"--command", "name=x,settings=0:100:0,encode=cp {in} {out},decode=cp {in} {out}"}, "STEP positive"},
            {{"--command", "name=jpeg,settings=1,encode=cp {in} {out},decode=cp {in} {out}"}, "built-in"},
            {{"--command", "name=../x,settings=1,encode=cp {in} {out},decode=cp {in} {out}"}, "a name is"},
            {{"--command", "name=x,settings=1,encode=cp {in} {out},decode=cp {in} {out},suffix=a/b"}, "a suffix is"},
            {{"--command", "name=x,settings=1,encode=cp {in} {out},decode=cp {in} {out}", "--command",
              "name=x,settings=2,encode=cp {in} {out},decode=cp {in} {out}"}, "given twice"},
            {{"--command-timeout", "0"}, "--command-timeout must be"},
            {{"--scheme-file", "one/cat.png"}, "one/cat.png, line 1:"},
            {{"--scheme-file", "nowhere.txt"}, "cannot read nowhere.txt"},
        };
        for (const auto &c : bad) {
            const RdRun refused(QStringList{QStringLiteral("one/cat.png"), QStringLiteral("--out"),
                                            QStringLiteral("out-refused")}
                                    + c.arguments,
                                scratch.path());
            QVERIFY2(refused.result.exitCode == 2 && refused.result.err.contains(c.message),
                     refused.result.err.constData());
        }
        QVERIFY(!QFileInfo::exists(scratch.filePath(QStringLiteral("out-refused"))));
    }

private:
    ScratchDir scratch;
    Csv points;
};

QTEST_MAIN(TestRd)
#include "test_rd.moc"
