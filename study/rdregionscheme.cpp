#include "study/rdregionscheme.h"

#include "codec/format/hybridmarker.h"
#include "codec/qimage/regionimagefile.h"
#include "codec/region/regionfile.h"

namespace veltrano {

RdScheme rdRegionScheme()
{
    RdScheme scheme;
    scheme.name = QStringLiteral("region");
    scheme.settingName = QStringLiteral("max diff x 10");
    scheme.suffix = QStringLiteral("ftr");
    scheme.settings = {5, 7, 10, 14, 20, 28, 40, 56, 80, 113, 160, 226, 320};
    scheme.encode = [](const QImage &source, int setting, QString *error) {
        RegionParameters parameters;
        parameters.maxDiff = float(setting) / 10.0f;
        RegionImage blocks;
        if (!encodeRegionQImage(source, parameters, &blocks, error))
            return QByteArray();
        return writeRegionFile(blocks);
    };
    scheme.decode = [](const QByteArray &data, const QSize &, QString *error) {
        RegionImage blocks;
        QString fault;
        if (!readRegionFile(data, &blocks, &fault, maxDecodedPixels)) {
            *error = QStringLiteral("cannot decode the block file: %1").arg(fault);
            return QImage();
        }
        return expandRegionQImage(blocks, error);
    };
    return scheme;
}

} // namespace veltrano
