// "Open image" driven through the real window: the dialog answers a name, the
// button is clicked, and the console, the panes, the state and the working
// directory are checked.
#include "commandsupport.h"
#include "codec/qimage/hybridjpeg.h"
#include "app/mainwindow.h"
#include "testsupport.h"

#include <QBuffer>
#include <QDateTime>
#include <QtTest>

#include <sys/inotify.h>
#include <unistd.h>

using namespace veltrano;

using namespace commandtest;

namespace {
const QString opened = QStringLiteral("<time> - File opened.");
const QString failed = QStringLiteral("<time> - File open failed.");
const QString hybridLine = QStringLiteral("<time> - It is a hybrid JPEG image.");
const QString standardLine = QStringLiteral("<time> - It is a standard JPEG image.");

// A picture that none of the commands would show, to see whether a pane is
// cleared or kept.
QPixmap marker()
{
    QImage image(8, 8, QImage::Format_RGB32);
    image.fill(qRgb(255, 0, 255));
    return QPixmap::fromImage(image);
}

void markDecodedPanes(MainWindow &window)
{
    pane(window, "image_current")->setPixmap(marker());
    pane(window, "image_current_2")->setPixmap(marker());
}

bool showsMarker(MainWindow &window, const char *name)
{
    const QImage shown = paneImage(window, name);
    return !shown.isNull() && rgbDifference(shown, marker().toImage()).isEmpty();
}

// A hybrid file of the photo written by the codec itself, at quality 70.
bool writeHybridFile(const QImage &source, const QString &fileName)
{
    QList<float> weights;
    for (int i = 0; i <= 20; ++i)
        weights.append(1.0f - i / 20.0f);
    return !compressHybrid(source, 70, weights, nullptr, fileName).isNull();
}

QImage chelsea()
{
    return loadPhoto(QStringLiteral("chelsea.png"));
}

// File-system events on one file, read through inotify: they show at the
// level of file descriptors whether anything opened the file for writing,
// which holds for root as well, whom file permissions do not stop.
class FileWatch
{
public:
    explicit FileWatch(const QString &fileName)
    {
        fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (fd >= 0)
            inotify_add_watch(fd, QFile::encodeName(fileName).constData(),
                              IN_OPEN | IN_MODIFY | IN_CLOSE_WRITE | IN_CLOSE_NOWRITE | IN_ATTRIB);
    }
    ~FileWatch()
    {
        if (fd >= 0)
            ::close(fd);
    }
    bool isValid() const { return fd >= 0; }

    // Counts of each event since the last call.
    QMap<quint32, int> take()
    {
        QMap<quint32, int> counts;
        alignas(inotify_event) char buffer[4096];
        for (;;) {
            const ssize_t length = ::read(fd, buffer, sizeof buffer);
            if (length <= 0)
                break;
            for (ssize_t at = 0; at < length;) {
                const auto *event = reinterpret_cast<const inotify_event *>(buffer + at);
                for (quint32 mask : {quint32(IN_OPEN), quint32(IN_MODIFY), quint32(IN_CLOSE_WRITE),
                                     quint32(IN_CLOSE_NOWRITE), quint32(IN_ATTRIB)})
                    if (event->mask & mask)
                        ++counts[mask];
                at += ssize_t(sizeof(inotify_event) + event->len);
            }
        }
        return counts;
    }

private:
    int fd = -1;
};
} // namespace

class OpenImageTest : public QObject
{
    Q_OBJECT

private slots:
    void opensImageFiles_data();
    void opensImageFiles();
    void opensHybridWrittenByCompress();
    void suffixRule_data();
    void suffixRule();
    void failedOpen_data();
    void failedOpen();
    void cancelledDialog();
    void writeProtectedHybridOpensReadOnly();
    void hybridWithoutUsableWeights_data();
    void hybridWithoutUsableWeights();
};

void OpenImageTest::opensImageFiles_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QByteArray>("format");
    QTest::addColumn<bool>("lossless");
    QTest::addColumn<QStringList>("lines");

    QTest::newRow("PNG") << "photo.png" << QByteArray("png") << true << QStringList{opened};
    QTest::newRow("BMP") << "photo.bmp" << QByteArray("bmp") << true << QStringList{opened};
    QTest::newRow("PPM") << "photo.ppm" << QByteArray("ppm") << true << QStringList{opened};
    QTest::newRow("standard JPEG") << "photo.jpg" << QByteArray("jpg") << false
                                   << QStringList{opened, standardLine};
    QTest::newRow("standard JPEG, .jpeg") << "photo.jpeg" << QByteArray("jpg") << false
                                          << QStringList{opened, standardLine};
    QTest::newRow("PNG, dots in name") << "a.b.c.png" << QByteArray("png") << true << QStringList{opened};
}

void OpenImageTest::opensImageFiles()
{
    QFETCH(QString, fileName);
    QFETCH(QByteArray, format);
    QFETCH(bool, lossless);
    QFETCH(QStringList, lines);

    ScratchDir scratch;
    QVERIFY(writeWeights());
    const QImage source = chelsea();
    QVERIFY(!source.isNull());
    QVERIFY(source.save(fileName, format.constData(), 90));
    const QImage expected(fileName);
    QVERIFY(!expected.isNull());
    if (lossless)
        QCOMPARE(rgbDifference(expected, source), QString());

    MainWindow window;
    ChooserLog log;
    FakeChooser chooser(&log);
    markDecodedPanes(window);
    const QStringList filesBefore = workingEntries();
    const QTime before = QTime::currentTime();
    const QByteArray out = commandStdout([&] { clickOpen(window, chooser, scratch.filePath(fileName)); });
    const QTime after = QTime::currentTime();

    QCOMPARE(log.calls, 1);
    QCOMPARE(log.caption, QStringLiteral("Open File"));
    QCOMPARE(log.directory, QDir::currentPath());
    QCOMPARE(log.parent, static_cast<QWidget *>(&window));

    QCOMPARE(normalizedConsole(window), lines);
    QVERIFY(stampsWithin(window, 0, before, after));
    QVERIFY(window.isImageOpened());
    QCOMPARE(rgbDifference(window.openedImage(), expected), QString());
    QCOMPARE(rgbDifference(paneImage(window, "image_original"), expected), QString());
    QVERIFY(paneImage(window, "image_current").isNull());
    QVERIFY(paneImage(window, "image_current_2").isNull());
    QCOMPARE(workingEntries(), filesBefore);
    QCOMPARE(out, QByteArray());
}

void OpenImageTest::opensHybridWrittenByCompress()
{
    ScratchDir scratch;
    QVERIFY(writeWeights());
    QVERIFY(chelsea().save(QStringLiteral("photo.png")));

    MainWindow window;
    FakeChooser chooser;
    clickOpen(window, chooser, scratch.filePath(QStringLiteral("photo.png")));
    clickCompress(window);
    QVERIFY(QFile::exists(QStringLiteral("hybrid.jpg")));
    QVERIFY(QFile::remove(QStringLiteral("hybrid_decompressed.bmp")));
    QVERIFY(!paneImage(window, "image_current").isNull());
    QVERIFY(!paneImage(window, "image_current_2").isNull());
    const int linesBefore = consoleLines(window).size();
    const QByteArray hybridBytes = readFileBytes(QStringLiteral("hybrid.jpg"));

    clickOpen(window, chooser, scratch.filePath(QStringLiteral("hybrid.jpg")));

    QCOMPARE(normalizedConsole(window).mid(linesBefore), (QStringList{opened, hybridLine}));
    // The stored components of the 451 x 300 photo are 225 x 150; decoding
    // gives twice that, not the size of the photo.
    const QImage components(QStringLiteral("hybrid.jpg"));
    QCOMPARE(components.size(), QSize(225, 150));
    const QImage expected = expandReference(components, 450, 300);
    QVERIFY(window.isImageOpened());
    QCOMPARE(window.openedImage().size(), QSize(450, 300));
    QCOMPARE(rgbDifference(window.openedImage(), expected), QString());
    QCOMPARE(rgbDifference(paneImage(window, "image_original"), expected), QString());
    QVERIFY(paneImage(window, "image_current").isNull());
    QVERIFY(paneImage(window, "image_current_2").isNull());

    const QImage saved(QStringLiteral("hybrid_decompressed.bmp"));
    QCOMPARE(rgbDifference(saved, expected), QString());
    QCOMPARE(readFileBytes(QStringLiteral("hybrid.jpg")), hybridBytes);

    // The decoded image is what Compress now works on.
    clickCompress(window);
    QCOMPARE(QImage(QStringLiteral("hybrid_decompressed.bmp")).size(), QSize(450, 300));
}

void OpenImageTest::suffixRule_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<bool>("tested");

    QTest::newRow("hybrid.jpg") << "hybrid.jpg" << true;
    QTest::newRow("upper-case .JPG") << "HYBRID.JPG" << false;
    QTest::newRow("mixed-case .Jpeg") << "hybrid.Jpeg" << false;
    QTest::newRow("a.b.jpeg") << "a.b.jpeg" << true;
    QTest::newRow("no dot") << "hybridfile" << false;
    QTest::newRow("jpg inside the name") << "hybrid.jpg.png" << false;
    QTest::newRow("jpg without dot") << "hybridjpg" << false;
}

void OpenImageTest::suffixRule()
{
    QFETCH(QString, fileName);
    QFETCH(bool, tested);

    ScratchDir scratch;
    // The rule looks at the whole path, so the folder must not add a dot.
    QVERIFY2(!scratch.path().contains(QLatin1Char('.')), qPrintable(scratch.path()));
    QVERIFY(writeWeights());
    QVERIFY(writeHybridFile(chelsea(), fileName));
    const QImage components(fileName);
    QCOMPARE(components.size(), QSize(225, 150));

    MainWindow window;
    FakeChooser chooser;
    markDecodedPanes(window);
    clickOpen(window, chooser, scratch.filePath(fileName));

    QVERIFY(window.isImageOpened());
    QVERIFY(paneImage(window, "image_current").isNull());
    QVERIFY(paneImage(window, "image_current_2").isNull());
    if (tested) {
        const QImage expected = expandReference(components, 450, 300);
        QCOMPARE(normalizedConsole(window), (QStringList{opened, hybridLine}));
        QCOMPARE(rgbDifference(window.openedImage(), expected), QString());
        QCOMPARE(rgbDifference(paneImage(window, "image_original"), expected), QString());
        QCOMPARE(rgbDifference(QImage(QStringLiteral("hybrid_decompressed.bmp")), expected), QString());
    } else {
        // Loaded and shown as the plain JPEG image it also is.
        QCOMPARE(normalizedConsole(window), QStringList{opened});
        QCOMPARE(rgbDifference(window.openedImage(), components), QString());
        QCOMPARE(rgbDifference(paneImage(window, "image_original"), components), QString());
        QCOMPARE(workingEntries(), (QStringList{fileName, QStringLiteral("weights_out.txt")}));
    }
}

void OpenImageTest::failedOpen_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("reason");

    QTest::newRow("text named .png") << "notes.png" << QByteArray("not an image\n") << "Unsupported image format";
    QTest::newRow("empty .jpg") << "empty.jpg" << QByteArray() << "the file is empty";
    QTest::newRow("text named .jpg") << "notes.jpg" << QByteArray("\xff\xd8 not a JPEG stream\n")
                                     << "Unable to read image data";
    QTest::newRow("missing file") << "missing.png" << QByteArray() << "File not found";
}

void OpenImageTest::failedOpen()
{
    QFETCH(QString, fileName);
    QFETCH(QByteArray, content);
    QFETCH(QString, reason);

    ScratchDir scratch;
    QVERIFY(writeWeights());
    const QImage source = chelsea();
    QVERIFY(source.save(QStringLiteral("photo.png")));
    if (!QString::fromLatin1(QTest::currentDataTag()).startsWith(QLatin1String("missing")))
        QVERIFY(writeFileBytes(fileName, content));

    MainWindow window;
    FakeChooser chooser;
    clickOpen(window, chooser, scratch.filePath(QStringLiteral("photo.png")));
    QVERIFY(window.isImageOpened());
    markDecodedPanes(window);
    const QStringList filesBefore = workingEntries();
    const QTime before = QTime::currentTime();
    clickOpen(window, chooser, scratch.filePath(fileName));
    const QTime after = QTime::currentTime();

    // The failure is followed by its reason, naming the file as chosen.
    const QString reasonLine = QStringLiteral("<time> - Cannot read %1: %2.")
                                   .arg(QDir::toNativeSeparators(scratch.filePath(fileName)), reason);
    QCOMPARE(normalizedConsole(window), (QStringList{opened, failed, reasonLine}));
    QVERIFY(stampsWithin(window, 1, before, after));
    QVERIFY(!window.isImageOpened());
    QVERIFY(window.openedImage().isNull());
    // The panes keep what they showed.
    QCOMPARE(rgbDifference(paneImage(window, "image_original"), source), QString());
    QVERIFY(showsMarker(window, "image_current"));
    QVERIFY(showsMarker(window, "image_current_2"));
    QCOMPARE(workingEntries(), filesBefore);

    // The earlier image is gone: Compress refuses and writes nothing.
    clickCompress(window);
    QCOMPARE(normalizedConsole(window),
             (QStringList{opened, failed, reasonLine, QStringLiteral("<time> - No file selected!")}));
    QCOMPARE(workingEntries(), filesBefore);
}

void OpenImageTest::cancelledDialog()
{
    ScratchDir scratch;
    QVERIFY(writeWeights());
    const QImage source = chelsea();
    QVERIFY(source.save(QStringLiteral("photo.png")));

    MainWindow window;
    ChooserLog log;
    FakeChooser chooser(&log);

    // Cancelled before anything was opened: nothing changes.
    clickOpen(window, chooser, QString());
    QCOMPARE(log.calls, 1);
    QCOMPARE(consoleLines(window), QStringList());
    QVERIFY(!window.isImageOpened());
    QVERIFY(window.openedImage().isNull());
    QVERIFY(paneImage(window, "image_original").isNull());

    // Cancelled after an image was opened: it stays opened and shown.
    clickOpen(window, chooser, scratch.filePath(QStringLiteral("photo.png")));
    markDecodedPanes(window);
    const QStringList filesBefore = workingEntries();
    clickOpen(window, chooser, QString());
    QCOMPARE(log.calls, 3);
    QCOMPARE(log.caption, QStringLiteral("Open File"));
    QCOMPARE(log.directory, QDir::currentPath());
    QCOMPARE(normalizedConsole(window), QStringList{opened});
    QVERIFY(window.isImageOpened());
    QCOMPARE(rgbDifference(window.openedImage(), source), QString());
    QCOMPARE(rgbDifference(paneImage(window, "image_original"), source), QString());
    QVERIFY(showsMarker(window, "image_current"));
    QVERIFY(showsMarker(window, "image_current_2"));
    QCOMPARE(workingEntries(), filesBefore);
}

void OpenImageTest::writeProtectedHybridOpensReadOnly()
{
    ScratchDir scratch;
    QVERIFY(writeWeights());
    const QString fileName = QStringLiteral("locked.jpg");
    QVERIFY(writeHybridFile(chelsea(), fileName));
    const QImage components(fileName);
    const QByteArray bytes = readFileBytes(fileName);
    // Write protection alone stops an ordinary user from opening the file
    // for writing; the watch below proves it for root too.
    const QFileDevice::Permissions readOnly = QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther;
    QVERIFY(QFile::setPermissions(fileName, readOnly));
    const QDateTime modified = QFileInfo(fileName).lastModified();

    MainWindow window;
    FakeChooser chooser;
    FileWatch watch(scratch.filePath(fileName));
    QVERIFY(watch.isValid());
    clickOpen(window, chooser, scratch.filePath(fileName));
    const QMap<quint32, int> events = watch.take();

    QVERIFY2(events.value(IN_OPEN) >= 2, "the file is read at least for its image and its first line");
    QCOMPARE(events.value(IN_CLOSE_WRITE), 0);
    QCOMPARE(events.value(IN_MODIFY), 0);
    QCOMPARE(events.value(IN_ATTRIB), 0);
    QCOMPARE(events.value(IN_CLOSE_NOWRITE), events.value(IN_OPEN));

    const QImage expected = expandReference(components, 450, 300);
    QCOMPARE(normalizedConsole(window), (QStringList{opened, hybridLine}));
    QVERIFY(window.isImageOpened());
    QCOMPARE(rgbDifference(window.openedImage(), expected), QString());
    QCOMPARE(rgbDifference(paneImage(window, "image_original"), expected), QString());
    QCOMPARE(rgbDifference(QImage(QStringLiteral("hybrid_decompressed.bmp")), expected), QString());

    QCOMPARE(readFileBytes(fileName), bytes);
    QCOMPARE(QFileInfo(fileName).lastModified(), modified);
    const QFileDevice::Permissions userBits = QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser;
    QCOMPARE(QFile::permissions(fileName) & ~userBits, readOnly);
}

void OpenImageTest::hybridWithoutUsableWeights_data()
{
    QTest::addColumn<int>("weightLines");
    QTest::addColumn<QByteArray>("out");

    QTest::newRow("weights file missing") << -1 << QByteArray("cannot open weights file!");
    QTest::newRow("10 entries, 11 needed") << 10 << QByteArray();
    QTest::newRow("empty weights file") << 0 << QByteArray();
}

void OpenImageTest::hybridWithoutUsableWeights()
{
    QFETCH(int, weightLines);
    QFETCH(QByteArray, out);

    ScratchDir scratch;
    const QImage source = chelsea();
    QVERIFY(source.save(QStringLiteral("photo.png")));
    QVERIFY(writeHybridFile(source, QStringLiteral("hybrid.jpg")));
    if (weightLines < 0)
        QFile::remove(QStringLiteral("weights_out.txt"));
    else
        QVERIFY(writeWeights(weightLines));

    MainWindow window;
    FakeChooser chooser;
    clickOpen(window, chooser, scratch.filePath(QStringLiteral("photo.png")));
    markDecodedPanes(window);
    const QStringList filesBefore = workingEntries();
    const QByteArray printed =
        commandStdout([&] { clickOpen(window, chooser, scratch.filePath(QStringLiteral("hybrid.jpg"))); });
    QCOMPARE(printed, out);

    // A hybrid file that cannot be decoded is no opened image; the last line
    // says why, naming the weights file.
    const QStringList lines = normalizedConsole(window);
    QCOMPARE(lines.size(), 5);
    QCOMPARE(lines.mid(0, 4), (QStringList{opened, opened, hybridLine, failed}));
    QVERIFY2(lines.at(4).startsWith(QLatin1String("<time> - ")) && lines.at(4).endsWith(QLatin1Char('.'))
                 && lines.at(4).contains(QLatin1String("weights_out.txt")),
             qPrintable(lines.at(4)));
    QVERIFY(!window.isImageOpened());
    QVERIFY(window.openedImage().isNull());
    QCOMPARE(rgbDifference(paneImage(window, "image_original"), source), QString());
    QVERIFY(showsMarker(window, "image_current"));
    QVERIFY(showsMarker(window, "image_current_2"));
    QCOMPARE(workingEntries(), filesBefore);

    clickCompress(window);
    QCOMPARE(normalizedConsole(window).last(), QStringLiteral("<time> - No file selected!"));
    QCOMPARE(workingEntries(), filesBefore);
}

QTEST_MAIN(OpenImageTest)
#include "test_openimage.moc"
