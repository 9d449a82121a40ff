#include "tools/ftjpeg/variantoptions.h"

#include "tools/ftjpeg/subcommandparser.h"

namespace veltrano {

VariantOptions::VariantOptions(SubcommandParser &parser)
    : step(parser.addOption(QStringLiteral("step"), QStringLiteral("Node spacing of a variant (default 2)."),
                            QStringLiteral("H")))
    , kernelRadius(parser.addOption(QStringLiteral("kernel-radius"),
                                    QStringLiteral("Kernel radius of a variant (default 2)."), QStringLiteral("N")))
    , reconstructRadius(parser.addOption(QStringLiteral("reconstruct-radius"),
                                         QStringLiteral("Reconstruction radius of a variant (default 1)."),
                                         QStringLiteral("R")))
    , optimize(parser.addOption(QStringLiteral("optimize"), QStringLiteral("Variant with optimized Huffman tables.")))
    , progressive(parser.addOption(QStringLiteral("progressive"), QStringLiteral("Variant with progressive scans.")))
    , chroma(parser.addOption(QStringLiteral("chroma"),
                              QStringLiteral("Chroma sampling of a variant: 420 (default) or 444."),
                              QStringLiteral("420|444")))
    , clamp(parser.addOption(QStringLiteral("clamp"),
                             QStringLiteral("Variant whose expanded channels are clamped to 0..255 instead of "
                                            "keeping their low 8 bits.")))
{
}

bool VariantOptions::requested(const SubcommandParser &parser) const
{
    return parser.isSet(step) || parser.isSet(kernelRadius) || parser.isSet(reconstructRadius)
        || parser.isSet(optimize) || parser.isSet(progressive) || parser.isSet(chroma) || parser.isSet(clamp);
}

} // namespace veltrano
