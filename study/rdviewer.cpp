#include "study/rdviewer.h"

#include "codec/qimage/imagefile.h"
#include "study/rdcsv.h"
#include "study/rdsummary.h"

#include <QBuffer>
#include <QColorSpace>
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QImageWriter>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPair>
#include <QRegularExpression>
#include <QUrl>

#include <algorithm>
#include <cmath>
#include <unistd.h>

// The viewer's page, script and style are compiled in (viewer/rdviewer.qrc),
// so that an installed ftjpeg writes them without any file beside it.
static void initViewerResources()
{
    Q_INIT_RESOURCE(rdviewer);
}

namespace veltrano {

namespace RdViewer {

namespace {

// The index is a script that assigns one JSON value.
const QByteArray indexPrefix = "window.veltranoView = ";
const QString indexName = QStringLiteral("index.js");

QStringList ownFiles()
{
    return {indexName, QStringLiteral("viewer.js"), QStringLiteral("viewer.css")};
}

QString native(const QString &fileName)
{
    return QDir::toNativeSeparators(fileName);
}

// Numbers as JSON has them; a lossless point's PSNR is "inf", a value that
// cannot be computed null.
QJsonValue numberValue(double value)
{
    if (std::isnan(value))
        return QJsonValue();
    if (std::isinf(value))
        return QJsonValue(value > 0 ? QStringLiteral("inf") : QStringLiteral("-inf"));
    return QJsonValue(value);
}

bool usableRate(const RdPoint &point)
{
    return std::isfinite(point.bpp) && point.bpp > 0.0;
}

QString rateText(double bpp)
{
    return QString::number(bpp, 'f', bpp < 1 ? 3 : 2);
}

bool readResource(const QString &name, QByteArray *data, QString *error)
{
    initViewerResources();
    QFile file(QStringLiteral(":/rdviewer/") + name);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("the viewer's %1 is missing from this build (%2)").arg(name, file.errorString());
        return false;
    }
    *data = file.readAll();
    return true;
}

QByteArray pngData(const QImage &image, QString *error)
{
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    if (!writer.write(image)) {
        *error = writer.errorString();
        return QByteArray();
    }
    return data;
}

// The image with alpha dropped (the study ignores it), grey as one channel.
QImage opaqueImage(const QImage &image)
{
    // What the decoders give, as it is (no copy).
    if (image.format() == QImage::Format_Grayscale8)
        return image;
    if (image.format() == QImage::Format_RGB32)
        return image.allGray() ? image.convertToFormat(QImage::Format_Grayscale8) : image;
    QImage colour = image.convertToFormat(QImage::Format_ARGB32);
    if (colour.allGray())
        return colour.convertToFormat(QImage::Format_Grayscale8);
    for (int y = 0; y < colour.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(colour.scanLine(y));
        for (int x = 0; x < colour.width(); ++x)
            line[x] |= 0xFF000000u;
    }
    return colour.convertToFormat(QImage::Format_RGB32);
}

// Hard links every regular file under from to the same place under to
// (copies where the file system cannot link).
bool linkTree(const QString &from, const QString &to, QString *error)
{
    QDirIterator files(from, QDir::Files | QDir::NoSymLinks | QDir::Hidden, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const QString source = files.next();
        const QString target = to + source.mid(from.size());
        if (!QDir().mkpath(QFileInfo(target).absolutePath())) {
            *error = QStringLiteral("cannot create the folder %1").arg(native(QFileInfo(target).absolutePath()));
            return false;
        }
        if (::link(QFile::encodeName(source).constData(), QFile::encodeName(target).constData()) == 0)
            continue;
        QFile file(source);
        if (!file.copy(target)) {
            *error = QStringLiteral("cannot copy %1 to %2: %3").arg(native(source), native(target), file.errorString());
            return false;
        }
    }
    return true;
}

} // namespace

QString folderName()
{
    return QStringLiteral("view");
}

QString imageFolder(const QString &imageFile, int index, QStringList *taken)
{
    QString stem = QFileInfo(imageFile).completeBaseName();
    if (stem.isEmpty() || stem == QLatin1String("..") || stem == QLatin1String("."))
        stem = QStringLiteral("image");
    QString name = stem;
    for (int round = 0; taken->contains(name) || ownFiles().contains(name); ++round)
        name = round == 0 ? QStringLiteral("%1-%2").arg(stem, QString::number(index))
                          : QStringLiteral("%1-%2-%3").arg(stem, QString::number(index), QString::number(round));
    taken->append(name);
    return name;
}

QString pointFileName(const QString &scheme, int setting)
{
    // "%" escapes the characters a file name cannot hold, itself included,
    // so that two schemes never share a file.
    QString name;
    for (const QChar c : scheme) {
        if (c == QLatin1Char('%') || c == QLatin1Char('/') || c == QLatin1Char('\\') || c.unicode() < 0x20
            || c.unicode() == 0x7F)
            name += QStringLiteral("%%1").arg(c.unicode(), 2, 16, QLatin1Char('0')).toUpper();
        else
            name += c;
    }
    return name + QStringLiteral("_%1.png").arg(setting);
}

QString originalFileName()
{
    return QStringLiteral("original.png");
}

int previewReduction(const QSize &size)
{
    const int longer = std::max(size.width(), size.height());
    if (longer <= 2560)
        return 1;
    int reduction = 2;
    while (longer / reduction > 1600)
        reduction *= 2;
    return reduction;
}

namespace {

// A digest of everything Qt's PNG writer takes from the image: format, size,
// resolution, colour space, text and the bytes of the pixels. Images of one
// digest give the same file, so a copy is found before it is encoded.
QByteArray pngInputDigest(const QImage &image)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    const qint32 fields[] = {qint32(image.format()), image.width(), image.height(), image.dotsPerMeterX(),
                             image.dotsPerMeterY()};
    hash.addData(reinterpret_cast<const char *>(fields), int(sizeof fields));
    hash.addData(image.colorSpace().iccProfile());
    for (const QString &key : image.textKeys()) {
        hash.addData(key.toUtf8().append('\0'));
        hash.addData(image.text(key).toUtf8().append('\0'));
    }
    const int lineBytes = int((qint64(image.width()) * image.depth() + 7) / 8);
    for (int y = 0; y < image.height(); ++y)
        hash.addData(reinterpret_cast<const char *>(image.constScanLine(y)), lineBytes);
    return hash.result();
}

} // namespace

QString WrittenImages::claim(const QByteArray &digest, const QString &name)
{
    std::lock_guard<std::mutex> lock(mutex);
    const QString earlier = names.value(digest);
    if (earlier.isEmpty())
        names.insert(digest, name);
    return earlier;
}

bool writeImage(const QImage &image, const QString &folder, const QString &name, QString *error,
                WrittenImages *written)
{
    const QImage opaque = opaqueImage(image);
    const int reduction = previewReduction(image.size());
    const QString previewFolder = folder + QStringLiteral("/preview");
    if (!QDir().mkpath(reduction > 1 ? previewFolder : folder)) {
        *error = QStringLiteral("cannot create the folder %1").arg(native(reduction > 1 ? previewFolder : folder));
        return false;
    }
    // The same pixels were written already: a link (and one for the
    // preview) where the earlier file is complete, a file of its own
    // otherwise.
    const QString earlier = written ? written->claim(pngInputDigest(opaque), name) : QString();
    const auto linked = [&](const QString &at) {
        return ::link(QFile::encodeName(at + QLatin1Char('/') + earlier).constData(),
                      QFile::encodeName(at + QLatin1Char('/') + name).constData())
            == 0;
    };
    if (!earlier.isEmpty() && linked(folder) && (reduction == 1 || linked(previewFolder)))
        return true;
    QString reason;
    QByteArray data = pngData(opaque, &reason);
    if (data.isEmpty()) {
        *error = QStringLiteral("cannot write %1: %2").arg(native(folder + QLatin1Char('/') + name), reason);
        return false;
    }
    if (!writeFileAtomically(folder + QLatin1Char('/') + name, data, error))
        return false;
    if (reduction == 1)
        return true;
    const QSize size((image.width() + reduction - 1) / reduction, (image.height() + reduction - 1) / reduction);
    data = pngData(opaque.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation), &reason);
    if (data.isEmpty()) {
        *error = QStringLiteral("cannot write %1: %2").arg(native(previewFolder + QLatin1Char('/') + name), reason);
        return false;
    }
    return writeFileAtomically(previewFolder + QLatin1Char('/') + name, data, error);
}

SharedRates sharedRates(const RdImageResult &image, const QStringList &schemes,
                        const QVector<RdSkippedImage> &failures)
{
    SharedRates rates;
    rates.low = -INFINITY;
    rates.high = INFINITY;
    QStringList measured;
    for (const QString &scheme : schemes) {
        double low = INFINITY;
        double high = -INFINITY;
        for (const RdPoint &point : image.points)
            if (point.scheme == scheme && usableRate(point)) {
                low = std::min(low, point.bpp);
                high = std::max(high, point.bpp);
            }
        if (low > high) {
            QString reason;
            for (const RdSkippedImage &failure : failures)
                if (failure.index == image.index && failure.scheme == scheme)
                    reason = failure.reason;
            rates.notes.append(reason.isEmpty() ? QStringLiteral("%1 has no point on this image").arg(scheme)
                                                : QStringLiteral("%1 failed on this image: %2").arg(scheme, reason));
            continue;
        }
        measured.append(scheme);
        rates.low = std::max(rates.low, low);
        rates.high = std::min(rates.high, high);
    }
    if (measured.isEmpty()) {
        rates.low = rates.high = 0.0;
        return rates;
    }
    if (rates.low > rates.high) {
        rates.notes.append(QStringLiteral("the schemes share no bit rate: one reaches down to %1 bpp only, another up "
                                          "to %2 bpp only; each pane shows its scheme's point nearest to the rate")
                               .arg(rateText(rates.low), rateText(rates.high)));
        std::swap(rates.low, rates.high);
        return rates;
    }
    rates.shared = true;
    for (const QString &scheme : measured) {
        int inside = 0;
        for (const RdPoint &point : image.points)
            if (point.scheme == scheme && usableRate(point) && point.bpp >= rates.low && point.bpp <= rates.high)
                ++inside;
        if (inside < 2)
            rates.notes.append(QStringLiteral("%1 has %2 point%3 between %4 and %5 bpp, the rates all schemes share")
                                   .arg(scheme, inside == 0 ? QStringLiteral("no") : QString::number(inside),
                                        inside == 1 ? QString() : QStringLiteral("s"), rateText(rates.low),
                                        rateText(rates.high)));
    }
    return rates;
}

QString pointLink(int image, const QString &scheme, double bpp)
{
    return QStringLiteral("viewer.html#image=%1&scheme=%2&bpp=%3")
        .arg(QString::number(image), QString::fromLatin1(QUrl::toPercentEncoding(scheme)), RdCsv::formatNumber(bpp));
}

bool writeViewer(const RdStudy &study, const QString &directory, QString *error)
{
    const QDir out(directory);
    const QString viewPath = out.filePath(folderName());
    if (!QDir().mkpath(viewPath)) {
        *error = QStringLiteral("cannot create the folder %1").arg(native(viewPath));
        return false;
    }
    const struct
    {
        const char *resource;
        QString target;
    } files[] = {{"viewer.html", out.filePath(QStringLiteral("viewer.html"))},
                 {"viewer.js", viewPath + QStringLiteral("/viewer.js")},
                 {"viewer.css", viewPath + QStringLiteral("/viewer.css")}};
    for (const auto &file : files) {
        QByteArray data;
        if (!readResource(QString::fromLatin1(file.resource), &data, error)
            || !writeFileAtomically(file.target, data, error))
            return false;
    }

    const QStringList schemes = studySchemes(study);
    QJsonArray images;
    for (const RdImageResult &image : study.images) {
        const SharedRates rates = sharedRates(image, schemes, study.failures);
        QJsonArray schemeEntries;
        for (const QString &scheme : schemes) {
            QJsonArray points;
            for (const RdPoint &point : image.points) {
                if (point.scheme != scheme)
                    continue;
                points.append(QJsonObject{{QStringLiteral("setting"), point.quality},
                                          {QStringLiteral("bytes"), double(point.sizeBytes)},
                                          {QStringLiteral("bpp"), numberValue(point.bpp)},
                                          {QStringLiteral("psnr"), numberValue(point.psnr)},
                                          {QStringLiteral("ssim"), numberValue(point.windowedSsim)},
                                          {QStringLiteral("butteraugli"), numberValue(point.butteraugli)},
                                          {QStringLiteral("file"), pointFileName(scheme, point.quality)}});
            }
            QJsonObject entry{{QStringLiteral("name"), scheme}, {QStringLiteral("points"), points}};
            for (const RdSkippedImage &failure : study.failures)
                if (failure.index == image.index && failure.scheme == scheme)
                    entry.insert(QStringLiteral("failure"), failure.reason);
            schemeEntries.append(entry);
        }
        images.append(QJsonObject{
            {QStringLiteral("index"), image.index},
            {QStringLiteral("name"), image.image},
            {QStringLiteral("width"), image.width},
            {QStringLiteral("height"), image.height},
            {QStringLiteral("folder"), image.viewFolder.isEmpty()
                                           ? QString()
                                           : folderName() + QLatin1Char('/') + image.viewFolder},
            {QStringLiteral("original"), originalFileName()},
            {QStringLiteral("preview"), previewReduction(QSize(image.width, image.height))},
            {QStringLiteral("low"), rates.low},
            {QStringLiteral("high"), rates.high},
            {QStringLiteral("shared"), rates.shared},
            {QStringLiteral("notes"), QJsonArray::fromStringList(rates.notes)},
            {QStringLiteral("schemes"), schemeEntries}});
    }
    const QJsonObject index{{QStringLiteral("schemes"), QJsonArray::fromStringList(schemes)},
                            {QStringLiteral("images"), images}};
    return writeFileAtomically(viewPath + QLatin1Char('/') + indexName,
                               indexPrefix + QJsonDocument(index).toJson(QJsonDocument::Compact) + ";\n", error);
}

bool mergeImages(RdStudy *study, const QStringList &shardDirectories, const QString &directory,
                 QStringList *missing, QString *error)
{
    // Where each image's decoded images are: the shard's folder under view/.
    static const QRegularExpression safeFolder(QStringLiteral("^view/[^/\\\\]+$"));
    QHash<int, QString> sources;
    for (const QString &shard : shardDirectories) {
        const QString indexFile = QDir(shard).filePath(folderName() + QLatin1Char('/') + indexName);
        if (!QFileInfo(indexFile).isFile())
            continue;
        QFile file(indexFile);
        if (!file.open(QIODevice::ReadOnly)) {
            *error = QStringLiteral("cannot read %1: %2").arg(native(indexFile), file.errorString());
            return false;
        }
        QByteArray data = file.readAll().trimmed();
        QJsonParseError parsed{};
        QJsonDocument document;
        if (data.startsWith(indexPrefix) && data.endsWith(';'))
            document = QJsonDocument::fromJson(data.mid(indexPrefix.size(), data.size() - indexPrefix.size() - 1),
                                               &parsed);
        if (!document.isObject()) {
            *error = QStringLiteral("%1 is not a viewer index a study wrote").arg(native(indexFile));
            return false;
        }
        for (const QJsonValue &value : document.object().value(QStringLiteral("images")).toArray()) {
            const QJsonObject image = value.toObject();
            const QString folder = image.value(QStringLiteral("folder")).toString();
            const QString name = folder.mid(folderName().size() + 1);
            if (safeFolder.match(folder).hasMatch() && name != QLatin1String(".") && name != QLatin1String(".."))
                sources.insert(image.value(QStringLiteral("index")).toInt(-1), QDir(shard).filePath(folder));
        }
    }
    QStringList taken;
    for (RdImageResult &image : study->images) {
        image.viewFolder.clear();
        const QString source = sources.value(image.index);
        if (source.isEmpty() || !QFileInfo(source).isDir() || QFileInfo(source).isSymLink()) {
            missing->append(image.image);
            continue;
        }
        const QString folder = imageFolder(image.image, image.index, &taken);
        if (!linkTree(source, QDir(directory).filePath(folderName() + QLatin1Char('/') + folder), error))
            return false;
        image.viewFolder = folder;
    }
    return true;
}

} // namespace RdViewer

} // namespace veltrano
