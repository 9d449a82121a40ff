#ifndef VARIANTCOMMANDS_H
#define VARIANTCOMMANDS_H

#include "codec/qimage/hybridvariant.h"
#include "tools/ftjpeg/variantoptions.h"

#include <QByteArray>
#include <QString>

namespace veltrano {

class SubcommandParser;

// The variant that the options describe; false after reporting a usage
// error.
bool readVariantOptions(const VariantOptions &options, const SubcommandParser &parser, HybridVariant *variant,
                        int *status);

// ftjpeg compress for a variant: writes the variant file of input to
// output (and the decoded image to decodedFile in decodedFormat when that is
// not empty), prints its bits per pixel; returns the exit status.
int compressVariant(const QString &input, const QString &output, int quality, const HybridVariant &variant,
                    const QString &weightsFile, const QString &decodedFile, const QByteArray &decodedFormat);

// The info line of a variant file, or false with *error set when its segment
// is damaged.
bool describeVariantFile(const QString &fileName, QString *description, QString *error);

} // namespace veltrano

#endif // VARIANTCOMMANDS_H
