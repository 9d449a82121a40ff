#include "metrics/butteraugli.h"

#include "study/codecs/module/studycodecs.h"

#include <cmath>

namespace veltrano {

// libjxl is called in module/butteraugli_impl.cpp, inside the study-codec
// module, loaded at the first use.

bool butteraugliDistance(const QImage &reference, const QImage &test, ButteraugliDistance *distance,
                         QString *errorMessage)
{
    QString error;
    const StudyCodecTable *codecs = studyCodecs(&error);
    if (codecs && codecs->butteraugliDistance(reference, test, &distance->pNorm3, &distance->max, &error))
        return true;
    if (!codecs)
        distance->pNorm3 = distance->max = std::nan("");
    if (errorMessage)
        *errorMessage = error;
    return false;
}

} // namespace veltrano
