#ifndef VARIANTCOMMANDS_H
#define VARIANTCOMMANDS_H

#include "hybridvariant.h"

#include <QByteArray>
#include <QCommandLineOption>
#include <QString>

class SubcommandParser;

// The options of ftjpeg compress that make a variant file instead of the
// classic one: --step, --kernel-radius, --reconstruct-radius, --optimize,
// --progressive, --chroma and --clamp, added to the parser on construction.
struct VariantOptions
{
    explicit VariantOptions(SubcommandParser &parser);
    // Whether any of them is given.
    bool requested(const SubcommandParser &parser) const;
    // The variant they describe; false after reporting a usage error.
    bool read(const SubcommandParser &parser, HybridVariant *variant, int *status) const;

    QCommandLineOption step;
    QCommandLineOption kernelRadius;
    QCommandLineOption reconstructRadius;
    QCommandLineOption optimize;
    QCommandLineOption progressive;
    QCommandLineOption chroma;
    QCommandLineOption clamp;
};

// ftjpeg compress for a variant: writes the variant file of input to
// output (and the decoded image to decodedFile in decodedFormat when that is
// not empty), prints its bits per pixel; returns the exit status.
int compressVariant(const QString &input, const QString &output, int quality, const HybridVariant &variant,
                    const QString &weightsFile, const QString &decodedFile, const QByteArray &decodedFormat);

// The info line of a variant file, or false with *error set when its segment
// is damaged.
bool describeVariantFile(const QString &fileName, QString *description, QString *error);

#endif // VARIANTCOMMANDS_H
