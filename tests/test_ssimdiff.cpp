// ssimdiff_cygwin as the experiments use it: a process that prints one
// tab-separated line, also for input it cannot measure.

#include "ssimfigures.h"
#include "testsupport.h"
#include "metrics/windowedssim.h"

#include <QDir>
#include <QImageReader>
#include <QtTest>

#include <cmath>

using namespace veltrano;

namespace {

const QByteArray nanLine = "nan\tnan\n";

ProcessResult ssimdiff(const QStringList &arguments, const QString &workingDirectory = QString())
{
    return runProcess(binPath(QStringLiteral("ssimdiff_cygwin")), arguments, workingDirectory);
}

QString source(const char *relative)
{
    return sourcePath(QString::fromLatin1(relative));
}

QByteArray line(const QList<double> &values)
{
    QStringList fields;
    for (double v : values)
        fields << QString::number(v, 'g', 6);
    return (fields.join(QLatin1Char('\t')) + QLatin1Char('\n')).toUtf8();
}

// What Qt's reader says about a file it cannot read.
QString readerReason(const QString &fileName)
{
    QImageReader reader(fileName);
    reader.read();
    return reader.errorString();
}

} // namespace

class TestSsimdiff : public QObject
{
    Q_OBJECT

private slots:
    void identicalImages();
    void recordedPairs_data();
    void recordedPairs();
    void throughTheShellAfterARow();
    void badInput_data();
    void badInput();
    void helpAndVersion();
};

void TestSsimdiff::identicalImages()
{
    const QString photo = photoPath(QStringLiteral("chelsea.png"));
    for (const QStringList &options : {QStringList{"-CC", "1"}, QStringList{}, QStringList{"-CC", "0"}}) {
        const ProcessResult r = ssimdiff(options + QStringList{photo, photo});
        QCOMPARE(r.out, QByteArray("1\tinf\n"));
        QCOMPARE(r.err, QByteArray());
        QCOMPARE(r.exitCode, 0);
    }
    const ProcessResult r = ssimdiff({"-CC", "2", photo, photo});
    QCOMPARE(r.out, QByteArray("1\t1\t1\tinf\tinf\tinf\n"));
    QCOMPARE(r.exitCode, 0);
}

void TestSsimdiff::recordedPairs_data()
{
    QTest::addColumn<int>("row");
    for (int i = 0; i < int(sizeof recordedSsimFigures / sizeof recordedSsimFigures[0]); ++i)
        QTest::newRow(recordedSsimFigures[i].test) << i;
}

void TestSsimdiff::recordedPairs()
{
    QFETCH(int, row);
    const SsimFigures &f = recordedSsimFigures[row];
    const QString refName = source(f.reference);
    const QString testName = source(f.test);
    const QImage reference(refName);
    const QImage test(testName);
    QVERIFY(!reference.isNull() && !test.isNull());

    // -CC 1: the line holds the library's figures, which agree with
    // scikit-image's to well within 1e-4.
    ProcessResult r = ssimdiff({"-CC", "1", refName, testName});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.err, QByteArray());
    QCOMPARE(r.out, line({windowedSsimRgbMean(reference, test), psnr(reference, test)}));
    const QList<QByteArray> fields = r.out.trimmed().split('\t');
    QCOMPARE(fields.size(), 2);
    QVERIFY2(std::fabs(fields[0].toDouble() - f.ssim) < 1e-4, fields[0].constData());
    QVERIFY2(std::fabs(fields[1].toDouble() - f.psnr) < 1e-4, fields[1].constData());

    // -CC 0: luma.
    r = ssimdiff({"-CC", "0", refName, testName});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.out, line({windowedSsim(reference, test, LumaChannel), psnrChannel(reference, test, LumaChannel)}));
    QVERIFY(std::fabs(r.out.split('\t').first().toDouble() - f.lumaSsim) < 1e-4);

    // -CC 2: the channels one by one.
    r = ssimdiff({"-CC", "2", refName, testName});
    QCOMPARE(r.exitCode, 0);
    QList<double> channels;
    for (int c = RedChannel; c <= BlueChannel; ++c)
        channels << windowedSsim(reference, test, c);
    for (int c = RedChannel; c <= BlueChannel; ++c)
        channels << psnrChannel(reference, test, c);
    QCOMPARE(r.out, line(channels));
}

void TestSsimdiff::throughTheShellAfterARow()
{
    // As the batch runs it: through the shell, found on the search path, in
    // the working directory, after a row of tab-terminated fields.
    ScratchDir scratch;
    QVERIFY(scratch.isValid());
    QVERIFY(QDir().mkpath(QStringLiteral("in")) && QDir().mkpath(QStringLiteral("out")));
    const QImage reference(source(recordedSsimFigures[0].reference));
    const QImage test(source(recordedSsimFigures[0].test));
    QVERIFY(reference.save(QStringLiteral("in/fireworks.ppm"), "ppm"));
    QVERIFY(test.save(QStringLiteral("out/fireworks_decompressed_ftih_2_0_1_20.ppm"), "ppm"));

    QProcessEnvironment path;
    path.insert(QStringLiteral("PATH"),
                QFileInfo(binPath(QStringLiteral("ssimdiff_cygwin"))).absolutePath() + QLatin1Char(':')
                    + qEnvironmentVariable("PATH"));
    const ProcessResult r = runProcess(
        QStringLiteral("/bin/sh"),
        {"-c", "printf 'fireworks\\t25\\t'; "
               "ssimdiff_cygwin -CC 1 in/fireworks.ppm out/fireworks_decompressed_ftih_2_0_1_20.ppm; "
               "ssimdiff_cygwin -CC 1 in/fireworks.ppm out/missing.ppm; printf 'next\\t'"},
        scratch.path(), path);
    QCOMPARE(r.out, "fireworks\t25\t" + line({windowedSsimRgbMean(reference, test), psnr(reference, test)})
                        + nanLine + "next\t");
    QVERIFY(r.err.contains("out/missing.ppm"));
}

void TestSsimdiff::badInput_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("expectedOut");
    QTest::addColumn<QString>("expectedMessage");
    QTest::addColumn<int>("expectedExit");

    const QString photo = photoPath(QStringLiteral("chelsea.png"));
    const QString astronaut = photoPath(QStringLiteral("astronaut.png"));
    const QString missing = QStringLiteral("no/such/image.ppm");
    const QString truncated = source("tests/data/truncated.jpg");
    const QString notAnImage = source("tests/data/ssim/make_pairs.py");
    const QString folder = source("tests/data");
    const QString tiny = source("tests/data/palette_color.png");

    QTest::newRow("missing reference") << QStringList{"-CC", "1", missing, photo} << nanLine
                                       << missing + QStringLiteral(": ") + readerReason(missing) << 1;
    QTest::newRow("missing test") << QStringList{"-CC", "1", photo, missing} << nanLine
                                  << missing + QStringLiteral(": ") + readerReason(missing) << 1;
    QTest::newRow("truncated JPEG") << QStringList{"-CC", "1", truncated, truncated} << nanLine
                                    << truncated + QStringLiteral(": ") + readerReason(truncated) << 1;
    QTest::newRow("not an image") << QStringList{"-CC", "1", photo, notAnImage} << nanLine
                                  << notAnImage + QStringLiteral(": ") + readerReason(notAnImage) << 1;
    QTest::newRow("a folder") << QStringList{"-CC", "1", folder, photo} << nanLine
                              << folder + QStringLiteral(": it is a directory, not an image file") << 1;
    QTest::newRow("different sizes") << QStringList{"-CC", "1", photo, astronaut} << nanLine
                                     << photo + QStringLiteral(" (451x300) and ") + astronaut
                                            + QStringLiteral(" (512x512) differ in size")
                                     << 1;
    QTest::newRow("smaller than the window") << QStringList{"-CC", "1", tiny, tiny} << nanLine
                                             << QStringLiteral("are 10x10, smaller than the 11 x 11 window") << 1;
    QTest::newRow("six fields with -CC 2") << QStringList{"-CC", "2", photo, missing}
                                           << QByteArray("nan\tnan\tnan\tnan\tnan\tnan\n") << missing << 1;
    QTest::newRow("-CC 3") << QStringList{"-CC", "3", photo, photo} << nanLine
                           << QStringLiteral("-CC 3: the value must be 0, 1 or 2") << 2;
    QTest::newRow("-CC x") << QStringList{"-CC", "x", photo, photo} << nanLine
                           << QStringLiteral("-CC x: the value must be 0, 1 or 2") << 2;
    QTest::newRow("-CC without value") << QStringList{photo, photo, "-CC"} << nanLine
                                       << QStringLiteral("-CC needs a value") << 2;
    QTest::newRow("unknown option") << QStringList{"-q", photo, photo} << nanLine
                                    << QStringLiteral("unknown option -q") << 2;
    QTest::newRow("one file") << QStringList{"-CC", "1", photo} << nanLine
                              << QStringLiteral("got 1 file name(s)") << 2;
    QTest::newRow("three files") << QStringList{photo, photo, photo} << nanLine
                                 << QStringLiteral("got 3 file name(s)") << 2;
    QTest::newRow("no arguments") << QStringList{} << nanLine << QStringLiteral("got 0 file name(s)") << 2;
}

void TestSsimdiff::badInput()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, expectedOut);
    QFETCH(QString, expectedMessage);
    QFETCH(int, expectedExit);

    const ProcessResult r = ssimdiff(arguments);
    QVERIFY(!r.crashed);
    QCOMPARE(r.out, expectedOut);
    QCOMPARE(r.exitCode, expectedExit);
    const QString err = QString::fromLocal8Bit(r.err);
    // The message is the last line; a decoder may have complained before it.
    const QString message = err.trimmed().split(QLatin1Char('\n')).last();
    QVERIFY2(message.startsWith(QStringLiteral("ssimdiff_cygwin: ")), qPrintable(err));
    QVERIFY2(message.contains(expectedMessage), qPrintable(err));
}

void TestSsimdiff::helpAndVersion()
{
    ProcessResult r = ssimdiff({"--help"});
    QCOMPARE(r.exitCode, 0);
    QVERIFY(r.out.startsWith("Usage: ssimdiff_cygwin [-CC N] REF TEST\n"));
    QVERIFY(r.out.contains("-CC N"));
    QCOMPARE(r.err, QByteArray());

    r = ssimdiff({"--version"});
    QCOMPARE(r.exitCode, 0);
    QVERIFY2(QRegularExpression(QStringLiteral("^ssimdiff_cygwin \\d+\\.\\d+\\.\\d+\n$"))
                 .match(QString::fromUtf8(r.out))
                 .hasMatch(),
             r.out.constData());
}

QTEST_GUILESS_MAIN(TestSsimdiff)
#include "test_ssimdiff.moc"
