#ifndef COMMANDSUPPORT_H
#define COMMANDSUPPORT_H

// Helpers shared by the tests of the Open image and Compress commands: they
// drive the real window through its buttons and read back what it shows.

#include "commands/filechooser.h"
#include "app/mainwindow.h"
#include "testsupport.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QStringList>
#include <QTime>

#include <cstdio>

#include <functional>

using namespace veltrano;

namespace commandtest {

// A weights table of 21 lines, entry i = 1 - i / 20: entry 0 is 1 and entry
// 10 is 0.5, the two the hybrid codec looks up.
inline QByteArray weightsText(int lines = 21)
{
    QByteArray text;
    for (int i = 0; i < lines; ++i)
        text += QByteArray::number(1.0 - i / 20.0) + '\n';
    return text;
}

inline bool writeWeights(int lines = 21)
{
    QFile file(QStringLiteral("weights_out.txt"));
    const QByteArray text = weightsText(lines);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(text) == text.size();
}

// What every open-file dialog of the window was asked, and what it answered.
struct ChooserLog
{
    int calls = 0;
    QWidget *parent = nullptr;
    QString caption;
    QString directory;
};

// Makes the window's dialog answer `answer` ("" is a cancelled dialog) for as
// long as the object lives.
class FakeChooser
{
public:
    explicit FakeChooser(ChooserLog *log = nullptr)
        : log(log)
    {
        setOpenFileChooser([this](QWidget *parent, const QString &caption, const QString &directory) {
            if (this->log) {
                ++this->log->calls;
                this->log->parent = parent;
                this->log->caption = caption;
                this->log->directory = directory;
            }
            return answer;
        });
    }
    ~FakeChooser() { setOpenFileChooser(OpenFileChooser()); }
    FakeChooser(const FakeChooser &) = delete;
    FakeChooser &operator=(const FakeChooser &) = delete;

    QString answer;

private:
    ChooserLog *log;
};

inline QPushButton *button(MainWindow &window, const char *name)
{
    return window.findChild<QPushButton *>(QLatin1String(name));
}

inline QLabel *pane(MainWindow &window, const char *name)
{
    return window.findChild<QLabel *>(QLatin1String(name));
}

inline QPlainTextEdit *console(MainWindow &window)
{
    return window.findChild<QPlainTextEdit *>(QStringLiteral("plainTextEdit"));
}

inline QSpinBox *qualityBox(MainWindow &window)
{
    return window.findChild<QSpinBox *>(QStringLiteral("jpeg_qual"));
}

// Presses "Open image" with the dialog answering fileName.
inline void clickOpen(MainWindow &window, FakeChooser &chooser, const QString &fileName)
{
    chooser.answer = fileName;
    button(window, "pushButton_2")->click();
}

inline void clickCompress(MainWindow &window)
{
    button(window, "pushButton_3")->click();
}

inline QStringList consoleLines(MainWindow &window)
{
    const QString text = console(window)->toPlainText();
    return text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
}

// The console with each leading time stamp (two-digit hours, minutes and
// seconds, as Qt's text format gives them) replaced by "<time>", so whole
// lists of lines can be compared. A line starting with anything else that
// looks like a time is left as it is and so fails the comparison.
inline QStringList normalizedConsole(MainWindow &window)
{
    static const QRegularExpression stamp(QStringLiteral("^([01][0-9]|2[0-3]):[0-5][0-9]:[0-5][0-9](?= - )"));
    QStringList lines = consoleLines(window);
    for (QString &line : lines)
        line.replace(stamp, QStringLiteral("<time>"));
    return lines;
}

// Whether the leading time stamps of the lines from index `from` on are the
// local time between `before` and `after` (read around the command). Across
// midnight any stamp is accepted.
inline bool stampsWithin(MainWindow &window, int from, const QTime &before, const QTime &after)
{
    const QStringList lines = consoleLines(window);
    for (int i = from; i < lines.size(); ++i) {
        if (!lines.at(i).contains(QStringLiteral(" - ")))
            continue;
        const QTime stamp = QTime::fromString(lines.at(i).left(8), QStringLiteral("HH:mm:ss"));
        if (!stamp.isValid())
            return false;
        const QTime low(before.hour(), before.minute(), before.second());
        if (after >= before && (stamp < low || stamp > after))
            return false;
    }
    return true;
}

// The picture a pane shows, or a null image when it shows none.
inline QImage paneImage(MainWindow &window, const char *name)
{
    const QPixmap pixmap = pane(window, name)->pixmap(Qt::ReturnByValue);
    if (pixmap.isNull())
        return QImage();
    return pixmap.toImage();
}

// Empty unless the two images have the same size and the same red, green
// and blue in every pixel; otherwise says where they first differ.
inline QString rgbDifference(const QImage &actual, const QImage &expected)
{
    if (actual.size() != expected.size())
        return QStringLiteral("size %1x%2, expected %3x%4")
            .arg(actual.width())
            .arg(actual.height())
            .arg(expected.width())
            .arg(expected.height());
    for (int y = 0; y < expected.height(); ++y)
        for (int x = 0; x < expected.width(); ++x) {
            const QRgb a = actual.pixel(x, y) & 0xFFFFFF;
            const QRgb e = expected.pixel(x, y) & 0xFFFFFF;
            if (a != e)
                return QStringLiteral("pixel (%1, %2) is %3, expected %4")
                    .arg(x)
                    .arg(y)
                    .arg(a, 6, 16, QLatin1Char('0'))
                    .arg(e, 6, 16, QLatin1Char('0'));
        }
    return QString();
}

// The hybrid decoding of components to width x height, done the slow and
// obvious way for a table whose entries 0 and 10 are 1 and 0.5. Output row y
// draws on the node rows j / 2 (clamped to the last one) of the even j in
// [y - 1, y + 1] inside the image: j = y itself for even y, its two
// neighbours for odd y; columns likewise. All terms of a pixel then carry the
// same power-of-two weight, so the single-precision quotient is exact and
// each channel is the integer mean of the components drawn on, truncated.
inline QImage expandReference(const QImage &components, int width, int height)
{
    auto nodes = [](int at, int size, int count) {
        QList<int> result;
        for (int j = qMax(at - 1, 0); j <= qMin(at + 1, size - 1); ++j)
            if (j % 2 == 0)
                result.append(qMin(j / 2, count - 1));
        return result;
    };
    QImage out(width, height, QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y) {
        const QList<int> rows = nodes(y, height, components.height());
        for (int x = 0; x < width; ++x) {
            const QList<int> columns = nodes(x, width, components.width());
            int red = 0, green = 0, blue = 0;
            for (int row : rows)
                for (int column : columns) {
                    const QRgb c = components.pixel(column, row);
                    red += qRed(c);
                    green += qGreen(c);
                    blue += qBlue(c);
                }
            const int n = rows.size() * columns.size();
            out.setPixel(x, y, qRgba(red / n, green / n, blue / n, 255));
        }
    }
    return out;
}

// What work writes to standard output. Qt's messages (libpng warnings and
// the like) go to standard error meanwhile, not into the test log, which
// QtTest writes to standard output too.
inline QByteArray commandStdout(const std::function<void()> &work)
{
    const QtMessageHandler previous = qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext &, const QString &message) {
            std::fprintf(stderr, "%s\n", qPrintable(message));
        });
    const QByteArray out = captureStdout(work);
    qInstallMessageHandler(previous);
    return out;
}

// Names in the working directory, hidden ones included.
inline QStringList workingEntries()
{
    QStringList names = QDir::current().entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    names.sort();
    return names;
}

} // namespace commandtest

#endif // COMMANDSUPPORT_H
