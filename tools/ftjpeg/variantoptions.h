#ifndef VARIANTOPTIONS_H
#define VARIANTOPTIONS_H

#include <QCommandLineOption>

namespace veltrano {

class SubcommandParser;

// The options of ftjpeg compress that make a variant file instead of the
// classic one: --step, --kernel-radius, --reconstruct-radius, --optimize,
// --progressive, --chroma and --clamp, added to the parser on construction.
// readVariantOptions (variantcommands.h) reads the variant they describe.
struct VariantOptions
{
    explicit VariantOptions(SubcommandParser &parser);
    // Whether any of them is given.
    bool requested(const SubcommandParser &parser) const;

    QCommandLineOption step;
    QCommandLineOption kernelRadius;
    QCommandLineOption reconstructRadius;
    QCommandLineOption optimize;
    QCommandLineOption progressive;
    QCommandLineOption chroma;
    QCommandLineOption clamp;
};

} // namespace veltrano

#endif // VARIANTOPTIONS_H
