// Console mode of the veltrano program, run as a real process.
#include "testsupport.h"

#include <QProcess>
#include <QtTest>

namespace {
const QByteArray header = "console: name, min area, max diff, back rejoin, edge, sim\n";

// An environment in which creating a QApplication would abort: no display and
// the X11 platform forced. Console mode must never get that far.
QProcessEnvironment hostileEnvironment()
{
    QProcessEnvironment environment;
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    environment.insert(QStringLiteral("DISPLAY"), QString());
    return environment;
}
} // namespace

class ConsoleTest : public QObject
{
    Q_OBJECT

private slots:
    void echoesArguments_data();
    void echoesArguments();
    void windowModeWritesHeaderFirst();
};

void ConsoleTest::echoesArguments_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("secondLine");
    QTest::newRow("one") << QStringList{"x"} << QByteArray("combination: x\t\n");
    QTest::newRow("several") << QStringList{"a.ppm", "5", "10"} << QByteArray("combination: a.ppm\t5\t10\t\n");
    QTest::newRow("empty argument") << QStringList{""} << QByteArray("combination: \t\n");
    QTest::newRow("empty among others") << QStringList{"a", "", "b"} << QByteArray("combination: a\t\tb\t\n");
    QTest::newRow("blanks") << QStringList{"a b", " c "} << QByteArray("combination: a b\t c \t\n");
    QTest::newRow("platform option") << QStringList{"-platform", "offscreen"}
                                     << QByteArray("combination: -platform\toffscreen\t\n");
    QTest::newRow("style option") << QStringList{"-style", "fusion"} << QByteArray("combination: -style\tfusion\t\n");
    QTest::newRow("non-ASCII") << QStringList{QString::fromUtf8("s\xc3\xa9rie")}
                               << QByteArray("combination: s\xc3\xa9rie\t\n");
}

void ConsoleTest::echoesArguments()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, secondLine);
    const ProcessResult result = runProcess(binPath("veltrano"), arguments, QString(), hostileEnvironment());
    QVERIFY(!result.crashed);
    QCOMPARE(result.exitCode, 1);
    QCOMPARE(result.out, header + secondLine);
    QCOMPARE(result.err, QByteArray());
    QCOMPARE(header.size(), 58); // 57 visible characters and the line feed
}

void ConsoleTest::windowModeWritesHeaderFirst()
{
    ScratchDir scratch;
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process.setProcessEnvironment(environment);
    process.start(binPath("veltrano"), QStringList());
    QVERIFY(process.waitForStarted());
    QByteArray out;
    QElapsedTimer timer;
    timer.start();
    while (out.size() < header.size() && timer.elapsed() < 20000) {
        process.waitForReadyRead(500);
        out += process.readAllStandardOutput();
    }
    // The window keeps running: no console line follows the header.
    QCOMPARE(process.state(), QProcess::Running);
    process.kill();
    process.waitForFinished();
    out += process.readAllStandardOutput();
    QCOMPARE(out, header);
}

QTEST_GUILESS_MAIN(ConsoleTest)
#include "test_console.moc"
