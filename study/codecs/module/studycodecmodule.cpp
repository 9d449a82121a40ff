// The one exported symbol of the study-codec module: the table of its
// implementations (the codecs' here, Butteraugli's in metrics/module/).

#include "metrics/module/butteraugli_impl.h"
#include "study/codecs/module/avifcodec_impl.h"
#include "study/codecs/module/jxlcodec_impl.h"
#include "study/codecs/module/studycodectable.h"
#include "study/codecs/module/webpcodec_impl.h"

namespace veltrano {

extern "C" __attribute__((visibility("default"))) const StudyCodecTable *veltranoStudyCodecs()
{
    static const StudyCodecTable table{StudyCodecTableVersion,
                                       int(sizeof(StudyCodecTable)),
                                       moduleimpl::encodeWebp,
                                       moduleimpl::decodeWebp,
                                       moduleimpl::encodeAvif,
                                       moduleimpl::decodeAvif,
                                       moduleimpl::encodeJxl,
                                       moduleimpl::decodeJxl,
                                       moduleimpl::butteraugliDistance};
    return &table;
}

} // namespace veltrano
