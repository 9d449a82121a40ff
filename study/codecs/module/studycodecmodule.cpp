// The one exported symbol of the study-codec module.

#include "study/codecs/module/studycodecmodule.h"
#include "study/codecs/module/studycodectable.h"

extern "C" __attribute__((visibility("default"))) const StudyCodecTable *veltranoStudyCodecs()
{
    static const StudyCodecTable table{StudyCodecTableVersion,
                                       int(sizeof(StudyCodecTable)),
                                       studycodecs::encodeWebp,
                                       studycodecs::decodeWebp,
                                       studycodecs::encodeAvif,
                                       studycodecs::decodeAvif,
                                       studycodecs::encodeJxl,
                                       studycodecs::decodeJxl,
                                       studycodecs::butteraugliDistance};
    return &table;
}
