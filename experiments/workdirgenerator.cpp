#include "experiments/workdirgenerator.h"
#include "platform/messagetext.h"

#include "codec/qimage/directtransform.h"
#include "experiments/experimentoutput.h"
#include "codec/qimage/hybridjpeg.h"
#include "codec/qimage/imagefile.h"
#include "codec/qimage/inversetransform.h"
#include "codec/transform/kernel.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <QList>
#include <QStringList>

namespace veltrano {

namespace {

// The HDR series: step 4, no extra kernel radius, components as JPEG at
// quality 70, reconstruction radii 4 .. 100.
constexpr int hdrStep = 4;
constexpr int hdrExtraRadius = 0;
constexpr int hdrQuality = 70;
constexpr int hdrFirstRadius = 4;
constexpr int hdrLastRadius = 100;

constexpr int sweepQualities = 11; // 0, 10, ..., 100

QByteArray weightsText()
{
    QByteArray text;
    for (int i = 0; i < workingDirectoryWeightCount; ++i)
        text += QByteArray::number(workingDirectoryWeight(i), 'g', 9) + '\n';
    return text;
}

// The table exactly as readWeightsFile gives it for that text.
QList<float> weightsTable(const QByteArray &text)
{
    QList<float> table;
    for (const QByteArray &line : text.split('\n'))
        if (!line.isEmpty())
            table.append(QString::fromLatin1(line).toFloat());
    return table;
}

bool encodeJpeg(const QImage &image, int quality, const QString &what, QByteArray *data, QString *error)
{
    QBuffer buffer(data);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpg");
    writer.setQuality(quality);
    if (!writer.write(withFixedResolution(image))) {
        *error = QStringLiteral("cannot encode %1 as JPEG: %2").arg(what, writer.errorString());
        return false;
    }
    return true;
}

bool decodeImage(const QByteArray &data, const QString &what, QImage *image, QString *error)
{
    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    if (!reader.read(image)) {
        *error = QStringLiteral("cannot decode %1: %2").arg(what, reader.errorString());
        return false;
    }
    return true;
}

class Generator
{
public:
    Generator(const QString &data, const QString &target, const std::function<void(int, int)> &progress)
        : data(data)
        , target(target)
        , progress(progress)
    {
    }

    bool run(QString *error);

private:
    QString dataPath(const QString &name) const { return data + QLatin1Char('/') + name; }
    QString targetPath(const QString &name) const { return target + QLatin1Char('/') + name; }

    bool readSource(const QString &name, QImage *image, QString *error) const
    {
        return readImageFile(dataPath(name), *image, error);
    }
    bool writeBytes(const QString &name, const QByteArray &bytes, QString *error)
    {
        return writeFileAtomically(targetPath(name), bytes, error) && advance();
    }
    bool writeImage(const QString &name, const QImage &image, const QByteArray &format, QString *error)
    {
        return writeImageFile(targetPath(name), withFixedResolution(image), format, -1, error) && advance();
    }
    bool copyFile(const QString &from, const QString &to, QString *error)
    {
        QFile file(dataPath(from));
        if (!file.open(QIODevice::ReadOnly)) {
            *error = QStringLiteral("cannot read %1: %2").arg(displayName(file.fileName()), file.errorString());
            return false;
        }
        const QByteArray bytes = file.readAll();
        if (file.error() != QFileDevice::NoError) {
            *error = QStringLiteral("cannot read %1: %2").arg(displayName(file.fileName()), file.errorString());
            return false;
        }
        return writeBytes(to, bytes, error);
    }
    bool advance()
    {
        ++done;
        if (progress)
            progress(done, total);
        return true;
    }

    bool makeDirectories(QString *error) const;
    bool writeFireworks(QString *error);
    bool writeTexture(QString *error);
    bool writeHdrSeries(const QList<float> &weights, QString *error);

    QString data;
    QString target;
    std::function<void(int, int)> progress;
    QStringList photos;
    int done = 0;
    int total = 0;
};

bool Generator::makeDirectories(QString *error) const
{
    for (const QString &name : {QString(), QStringLiteral("in"), QStringLiteral("out"), QStringLiteral("temp"),
                                QStringLiteral("photos")}) {
        const QString path = name.isEmpty() ? target : targetPath(name);
        if (!QDir().mkpath(path)) {
            *error = QStringLiteral("cannot create the folder %1").arg(displayName(path));
            return false;
        }
    }
    return true;
}

// The colour batch's image: the middle 400 x 300 pixels of the Hubble deep
// field, bright points of many colours on black.
bool Generator::writeFireworks(QString *error)
{
    QImage photo;
    if (!readSource(QStringLiteral("photos/hubble_deep_field.jpg"), &photo, error))
        return false;
    const int width = 400;
    const int height = 300;
    if (photo.width() < width || photo.height() < height) {
        *error = QStringLiteral("%1 is smaller than %2x%3 pixels")
                     .arg(displayName(dataPath(QStringLiteral("photos/hubble_deep_field.jpg"))))
                     .arg(width)
                     .arg(height);
        return false;
    }
    const QImage crop = photo.copy((photo.width() - width) / 2, (photo.height() - height) / 2, width, height)
                            .convertToFormat(QImage::Format_RGB32);
    return writeImage(QStringLiteral("in/fireworks.ppm"), crop, "ppm", error);
}

// The sweep's texture: the brick photograph at half size, 256 x 256, and for
// each quality q = 0, 10, ..., 100 that texture as JPEG at quality q and the
// JPEG decoded again as PPM.
bool Generator::writeTexture(QString *error)
{
    QImage photo;
    if (!readSource(QStringLiteral("photos/brick.png"), &photo, error))
        return false;
    const QImage texture = photo.convertToFormat(QImage::Format_RGB32)
                               .scaled(256, 256, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    if (!writeImage(QStringLiteral("in/texture.ppm"), texture, "ppm", error))
        return false;
    for (int q = 0; q <= 100; q += 10) {
        const QString base = QStringLiteral("temp/texture_bic_sm_%1").arg(q);
        QByteArray jpeg;
        QImage decoded;
        if (!encodeJpeg(texture, q, base, &jpeg, error) || !writeBytes(base + QStringLiteral(".jpg"), jpeg, error)
            || !decodeImage(jpeg, base + QStringLiteral(".jpg"), &decoded, error)
            || !writeImage(base + QStringLiteral(".ppm"), decoded, "ppm", error))
            return false;
    }
    return true;
}

// The HDR evaluation's reference, the cat photograph cut to 4:3 and scaled
// to 128 x 96, and its reconstructions: one direct transform, its components
// as JPEG once, then one inverse transform per radius. The image is small
// because the inverse transform at radius 100 sums over every node of it.
bool Generator::writeHdrSeries(const QList<float> &weights, QString *error)
{
    QImage photo;
    if (!readSource(QStringLiteral("photos/chelsea.png"), &photo, error))
        return false;
    const int cropWidth = qMin(photo.width(), photo.height() * 4 / 3);
    const int cropHeight = cropWidth * 3 / 4;
    const QImage hdr = photo.copy((photo.width() - cropWidth) / 2, (photo.height() - cropHeight) / 2, cropWidth,
                                  cropHeight)
                           .convertToFormat(QImage::Format_RGB32)
                           .scaled(128, 96, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    if (!writeImage(QStringLiteral("out/hdr.ppm"), hdr, "ppm", error))
        return false;

    const QImage components = directFTransform(hdr, hdrStep, makeRaisedCosineKernel(hdrStep + hdrExtraRadius));
    QByteArray jpeg;
    QImage decoded;
    if (components.isNull()) {
        *error = QStringLiteral("cannot transform the HDR reference image");
        return false;
    }
    if (!encodeJpeg(components, hdrQuality, QStringLiteral("the HDR components"), &jpeg, error)
        || !decodeImage(jpeg, QStringLiteral("the HDR components"), &decoded, error))
        return false;
    for (int radius = hdrFirstRadius; radius <= hdrLastRadius; ++radius) {
        const QImage reconstructed =
            inverseFTransform(decoded, hdr.width(), hdr.height(), hdrStep, radius, weights, error);
        if (reconstructed.isNull())
            return false;
        const QString name = QStringLiteral("out/hdr_decompressed_ftih_%1_%2_%3_%4.png")
                                 .arg(hdrStep)
                                 .arg(hdrExtraRadius)
                                 .arg(radius)
                                 .arg(hdrQuality);
        if (!writeImage(name, reconstructed, "png", error))
            return false;
    }
    return true;
}

bool Generator::run(QString *error)
{
    const QDir photoDirectory(dataPath(QStringLiteral("photos")));
    photos = photoDirectory.entryList(QDir::Files, QDir::Name);
    if (!photos.contains(QStringLiteral("LICENSE.txt"))) {
        *error = QStringLiteral("%1 holds no photographs with their LICENSE.txt (give the data folder with --data)")
                     .arg(displayName(photoDirectory.path()));
        return false;
    }
    total = 5 + 2 * sweepQualities + 1 + (hdrLastRadius - hdrFirstRadius + 1) + photos.size();
    if (!makeDirectories(error))
        return false;

    const QByteArray weights = weightsText();
    if (!writeBytes(QStringLiteral("weights_out.txt"), weights, error)
        || !copyFile(QStringLiteral("pattern.png"), QStringLiteral("pattern.png"), error)
        || !copyFile(QStringLiteral("hdr_triang_4.png"), QStringLiteral("hdr_triang_4.png"), error))
        return false;
    for (const QString &photo : photos)
        if (!copyFile(QStringLiteral("photos/") + photo, QStringLiteral("photos/") + photo, error))
            return false;
    return writeFireworks(error) && writeTexture(error) && writeHdrSeries(weightsTable(weights), error);
}

} // namespace

double workingDirectoryWeight(int index)
{
    const double distance = index / 20.0;
    return 1.0 / (1.0 + distance * distance);
}

QList<float> workingDirectoryWeights()
{
    return weightsTable(weightsText());
}

bool generateWorkingDirectory(const QString &dataDirectory, const QString &directory, QString *error,
                              const std::function<void(int done, int total)> &progress)
{
    QString message;
    Generator generator(QDir::cleanPath(dataDirectory), QDir::cleanPath(directory), progress);
    const bool written = generator.run(&message);
    if (!written && error)
        *error = message;
    return written;
}

// The data folder of an installation: share/veltrano beside the bin/ folder
// of the running program, whether or not it is there.
static QString installedDataDirectory()
{
    return QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/" VELTRANO_DATA_FROM_BINDIR));
}

QString defaultDataDirectory()
{
    // An installation is recognised by the licence of its photographs,
    // which every data folder holds (the generator refuses one without).
    const QString installed = installedDataDirectory();
    if (QFileInfo(installed + QStringLiteral("/photos/LICENSE.txt")).isFile())
        return installed;
    return QStringLiteral(VELTRANO_SOURCE_DATA_DIR);
}

} // namespace veltrano
