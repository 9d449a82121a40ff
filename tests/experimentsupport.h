#ifndef EXPERIMENTSUPPORT_H
#define EXPERIMENTSUPPORT_H

// Helpers of the tests of the batch experiments and the working-directory
// generator: generated working directories, stand-ins for ssimdiff_cygwin,
// ftjpeg runs and the plain formatting the rows are compared with.

#include "testsupport.h"

#include <QBuffer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageWriter>
#include <QList>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <cmath>
#include <sstream>

namespace experimenttest {

// The JPEG stream the codec writes for an image at a quality: 72 dpi, as
// every file of the working directory and the experiments is stored.
inline QByteArray jpegBytes(const QImage &image, int quality)
{
    QImage fixed = image;
    fixed.setDotsPerMeterX(2835);
    fixed.setDotsPerMeterY(2835);
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpg");
    writer.setQuality(quality);
    writer.write(fixed);
    return data;
}

// Every file under root, as paths relative to it, sorted.
inline QStringList filesUnder(const QString &root)
{
    QStringList files;
    QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << QDir(root).relativeFilePath(it.next());
    files.sort();
    return files;
}

// Copies every file under from into to, creating folders as needed.
inline bool copyTree(const QString &from, const QString &to)
{
    for (const QString &file : filesUnder(from)) {
        const QString target = to + QLatin1Char('/') + file;
        if (!QDir().mkpath(QFileInfo(target).path()))
            return false;
        QFile::remove(target);
        if (!QFile::copy(from + QLatin1Char('/') + file, target))
            return false;
    }
    return true;
}

// A folder holding an executable script named ssimdiff_cygwin with the given
// body, to be put first on the search path.
class FakeSsimdiff
{
public:
    explicit FakeSsimdiff(const QByteArray &body)
    {
        const QString script = dir.filePath(QStringLiteral("ssimdiff_cygwin"));
        valid = dir.isValid() && writeFileBytes(script, "#!/bin/sh\n" + body + "\n")
            && QFile::setPermissions(script, QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                                 | QFileDevice::ExeOwner);
    }
    bool isValid() const { return valid; }
    QString path() const { return dir.path(); }

private:
    QTemporaryDir dir;
    bool valid = false;
};

// The environment with folder first on the search path.
inline QProcessEnvironment pathFirst(const QString &folder)
{
    QProcessEnvironment environment;
    environment.insert(QStringLiteral("PATH"),
                       folder + QLatin1Char(':') + QProcessEnvironment::systemEnvironment().value("PATH"));
    return environment;
}

inline ProcessResult runFtjpeg(const QStringList &arguments, const QString &workingDirectory,
                               const QProcessEnvironment &environment = QProcessEnvironment())
{
    return runProcess(binPath(QStringLiteral("ftjpeg")), arguments, workingDirectory, environment);
}

// A double as std::ostream writes it by default (printf's "%g").
inline QByteArray streamText(double value)
{
    std::ostringstream text;
    text << value;
    return QByteArray::fromStdString(text.str());
}

// Bits per pixel with the division in single precision.
inline double singleBitsPerPixel(qint64 bytes, int pixels)
{
    return double(float(bytes * 8) / float(pixels));
}

// The weights table as the window reads it: one float per line.
inline QList<float> readWeights(const QString &fileName)
{
    QList<float> weights;
    const QByteArray text = readFileBytes(fileName);
    for (const QByteArray &line : text.split('\n'))
        if (!line.isEmpty())
            weights << QString::fromLatin1(line).toFloat();
    return weights;
}

// The raised-cosine kernel of radius n written out plainly.
inline QList<float> raisedCosine(int n)
{
    QList<float> kernel;
    for (int k = 0; k <= n; ++k) {
        const double angle = double((k / float(n)) * 3.141592653589793L);
        kernel << float((1.0 + std::cos(angle)) / 2.0);
    }
    return kernel;
}

// True when both images have the same size and the same red, green and blue
// at every pixel.
inline bool sameColours(const QImage &a, const QImage &b)
{
    if (a.size() != b.size())
        return false;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            if ((a.pixel(x, y) & 0xFFFFFF) != (b.pixel(x, y) & 0xFFFFFF))
                return false;
    return true;
}

// Mean squared difference over red, green and blue, written plainly.
inline double plainMse(const QImage &a, const QImage &b)
{
    double sum = 0.0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y);
            const QRgb q = b.pixel(x, y);
            const int dr = qRed(p) - qRed(q);
            const int dg = qGreen(p) - qGreen(q);
            const int db = qBlue(p) - qBlue(q);
            sum += dr * dr + dg * dg + db * db;
        }
    return sum / (3.0 * a.width() * a.height());
}

} // namespace experimenttest

#endif // EXPERIMENTSUPPORT_H
