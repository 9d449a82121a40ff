// ftjpeg info: what each file is, from its header.

#include "tools/ftjpeg/cli.h"
#include "tools/ftjpeg/subcommand.h"
#include "tools/ftjpeg/subcommandparser.h"
#include "tools/ftjpeg/variantcommands.h"

#include "codec/qimage/hybridjpeg.h"
#include "codec/qimage/hybridvariant.h"
#include "codec/qimage/imagefile.h"

#include <QFile>
#include <QImageReader>

#include <climits>
#include <cstdio>

namespace veltrano {

namespace {

int runInfo(const QStringList &arguments)
{
    SubcommandParser parser(
        arguments,
        QStringLiteral("Prints one line per file: whether it is a hybrid JPEG, a standard JPEG or an image of "
                       "another format, and its size, read from its header."));
    parser.addPositional(QStringLiteral("FILE"), QStringLiteral("The files to describe."), QStringLiteral("FILE..."));
    int status = ExitSuccess;
    if (!parser.parse(1, INT_MAX, &status))
        return status;

    for (const QString &fileName : parser.positional()) {
        QString error;
        if (!isRegularFile(fileName, &error)) {
            status = failure(error);
            continue;
        }
        QFile file(fileName);
        if (!file.open(QIODevice::ReadOnly)) {
            status = failure(QStringLiteral("cannot open %1: %2").arg(displayName(fileName), file.errorString()));
            continue;
        }
        const QByteArray firstLine = readFirstLine(file);
        file.close();
        if (isHybridJpeg(firstLine) && isHybridVariantFile(fileName)) {
            QString description;
            QString error;
            if (describeVariantFile(fileName, &description, &error))
                std::printf("%s: %s\n", qPrintable(fileName), qPrintable(description));
            else
                status = failure(error);
            continue;
        }
        QImageReader reader(fileName);
        reader.setDecideFormatFromContent(true);
        const QByteArray format = reader.format();
        const QSize size = readImageSize(fileName);
        if (format.isEmpty() || !size.isValid()) {
            status = failure(QStringLiteral("cannot read %1: %2")
                                 .arg(displayName(fileName),
                                      format.isEmpty() ? QStringLiteral("not an image of a known format")
                                                       : QStringLiteral("its size cannot be read")));
            continue;
        }
        QString description;
        if (format == "jpeg" && isHybridJpeg(firstLine))
            description = QStringLiteral("hybrid JPEG, %1 components, decodes to %2")
                              .arg(sizeText(size), sizeText(size * 2));
        else if (format == "jpeg")
            description = QStringLiteral("standard JPEG, %1").arg(sizeText(size));
        else
            description = QStringLiteral("%1 image, %2").arg(QString::fromLatin1(format.toUpper()), sizeText(size));
        std::printf("%s: %s\n", qPrintable(fileName), qPrintable(description));
    }
    std::fflush(stdout);
    return status;
}

} // namespace

REGISTER_SUBCOMMAND(info, "tell hybrid JPEG, standard JPEG and other images apart, with their sizes", runInfo);

} // namespace veltrano
