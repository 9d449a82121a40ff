// The handler of Qt's messages (platform/qtmessages.h): which messages a
// section and a command-line program drop, in which threads, and that a
// section put back the handler it found. The messages that get through are
// caught by a handler of the test's own, installed before each test.
#include "codec/format/imagelimits.h"
#include "codec/qimage/imagefile.h"
#include "platform/qtmessages.h"
#include "testsupport.h"

#include <QBuffer>
#include <QImageReader>
#include <QTemporaryDir>
#include <QtTest>

#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

using namespace veltrano;

namespace {

std::mutex caughtMutex;
QStringList caught;

void catchMessage(QtMsgType, const QMessageLogContext &, const QString &message)
{
    std::lock_guard<std::mutex> lock(caughtMutex);
    caught.append(message);
}

QStringList takeCaught()
{
    std::lock_guard<std::mutex> lock(caughtMutex);
    QStringList messages = caught;
    caught.clear();
    return messages;
}

// Messages of every kind but fatal, each naming its kind after `where`.
void sayAll(const char *where)
{
    qDebug("%s: debug", where);
    qInfo("%s: info", where);
    qWarning("%s: warning", where);
    qCritical("%s: critical", where);
}

// The handler in force, put back as it was.
QtMessageHandler currentHandler()
{
    const QtMessageHandler current = qInstallMessageHandler(nullptr);
    qInstallMessageHandler(current);
    return current;
}

} // namespace

class TestQtMessages : public QObject
{
    Q_OBJECT

    QtMessageHandler qtTestHandler = nullptr;

private slots:
    void init()
    {
        takeCaught();
        qtTestHandler = qInstallMessageHandler(&catchMessage);
    }

    void cleanup() { qInstallMessageHandler(qtTestHandler); }

    void aSectionDropsAllButCriticalOfItsOwnThread()
    {
        {
            const QtMessages::PluginWarningsExpected expected;
            sayAll("inside");
            std::thread other([] { sayAll("other thread"); });
            other.join();
            {
                const QtMessages::PluginWarningsExpected nested;
                sayAll("nested");
            }
            // Closing the inner section leaves the outer one in force.
            sayAll("after nested");
        }
        sayAll("after");
        QCOMPARE(takeCaught(), (QStringList{QStringLiteral("inside: critical"), QStringLiteral("other thread: debug"),
                                            QStringLiteral("other thread: info"),
                                            QStringLiteral("other thread: warning"),
                                            QStringLiteral("other thread: critical"), QStringLiteral("nested: critical"),
                                            QStringLiteral("after nested: critical"), QStringLiteral("after: debug"),
                                            QStringLiteral("after: info"), QStringLiteral("after: warning"),
                                            QStringLiteral("after: critical")}));
        // Without a program's handler, the section's is gone with it.
        QVERIFY(currentHandler() == &catchMessage);
    }

    void sectionsOfManyThreadsAtOnce()
    {
        // Every thread holds its section until all of them have one open, so
        // that the sections overlap; the last to close puts the handler back.
        const int count = 4;
        std::mutex mutex;
        std::condition_variable changed;
        int open = 0;
        std::vector<std::thread> threads;
        for (int i = 0; i < count; ++i)
            threads.emplace_back([&, i] {
                const QtMessages::PluginWarningsExpected expected;
                {
                    std::unique_lock<std::mutex> lock(mutex);
                    ++open;
                    changed.notify_all();
                    changed.wait(lock, [&] { return open == count; });
                }
                qWarning("reader %d", i);
            });
        {
            std::unique_lock<std::mutex> lock(mutex);
            changed.wait(lock, [&] { return open == count; });
        }
        qWarning("main thread");
        for (std::thread &thread : threads)
            thread.join();
        QCOMPARE(takeCaught(), QStringList{QStringLiteral("main thread")});
        QVERIFY(currentHandler() == &catchMessage);
    }

    void aDamagedJpegIsReadWithoutThePluginsWarning()
    {
        // A JPEG cut in the middle of its scan.
        QImage picture(64, 64, QImage::Format_RGB32);
        for (int y = 0; y < picture.height(); ++y)
            for (int x = 0; x < picture.width(); ++x)
                picture.setPixel(x, y, qRgb(x * 4, y * 4, (x * y) & 255));
        QBuffer encoded;
        QVERIFY(encoded.open(QIODevice::WriteOnly) && picture.save(&encoded, "jpg", 90));
        const QTemporaryDir folder;
        QVERIFY(folder.isValid());
        const QString file = folder.filePath(QStringLiteral("cut.jpg"));
        QVERIFY(writeFileBytes(file, encoded.data().left(encoded.data().size() / 2)));

        // Qt's JPEG plugin warns about the file when nothing stops it...
        QImageReader reader(file);
        QImage direct;
        QVERIFY(reader.read(&direct));
        QVERIFY2(!takeCaught().isEmpty(), "Qt's JPEG reader said nothing of the cut file");
        // ...and the codec's reader, which tells the damage itself, does not
        // let it.
        QImage image;
        QString error, damage;
        QVERIFY2(readImageFile(file, image, &error, maxDecodedPixels, &damage), qPrintable(error));
        QCOMPARE(image.size(), picture.size());
        QVERIFY(!damage.isEmpty());
        QCOMPARE(takeCaught(), QStringList());
        QVERIFY(currentHandler() == &catchMessage);
    }

    // Last: a program's handler stays for the rest of the process.
    void aCommandLineProgramDropsAllButCritical()
    {
        QtMessages::install(QtMessages::CommandLine);
        sayAll("program");
        std::thread other([] { sayAll("other thread"); });
        other.join();
        {
            const QtMessages::PluginWarningsExpected expected;
            sayAll("section");
        }
        // The section leaves the program's handler in place.
        sayAll("after the section");
        QCOMPARE(takeCaught(), (QStringList{QStringLiteral("program: critical"), QStringLiteral("other thread: critical"),
                                            QStringLiteral("section: critical"),
                                            QStringLiteral("after the section: critical")}));

        // A window passes them on, but not inside a section.
        QtMessages::install(QtMessages::Window);
        sayAll("window");
        {
            const QtMessages::PluginWarningsExpected expected;
            sayAll("window section");
        }
        QCOMPARE(takeCaught(), (QStringList{QStringLiteral("window: debug"), QStringLiteral("window: info"),
                                            QStringLiteral("window: warning"), QStringLiteral("window: critical"),
                                            QStringLiteral("window section: critical")}));
    }
};

QTEST_GUILESS_MAIN(TestQtMessages)
#include "test_qtmessages.moc"
