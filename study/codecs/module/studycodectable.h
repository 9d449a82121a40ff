#ifndef STUDYCODECTABLE_H
#define STUDYCODECTABLE_H

#include <QByteArray>
#include <QImage>
#include <QString>

namespace veltrano {

// The functions of the study-codec module (WebP, AVIF and JPEG XL through
// their libraries, *codec_impl.cpp here, and libjxl's Butteraugli,
// metrics/module/butteraugli_impl.cpp), as the module's one exported entry
// point (studycodecmodule.cpp) hands them out. The programs load the module
// only when one of these is first used (studycodecs.h), so that libjxl,
// libavif, libwebp and everything they pull in are not loaded at the start
// of every program.
//
// The module and the programs come from one build: the version changes with
// any change of this table, and a module of another version is refused.
struct StudyCodecTable
{
    int version;
    int size; // sizeof(StudyCodecTable) of the module

    // As encodeWebp, decodeWebp and the others of study/codecs/, with the
    // quality's mapping (avifQuantizer, jxlDistance) done by the caller.
    QByteArray (*encodeWebp)(const QImage &image, int quality, QString *error);
    QImage (*decodeWebp)(const QByteArray &data, QString *error);
    QByteArray (*encodeAvif)(const QImage &image, int quality, int quantizer, QString *error);
    QImage (*decodeAvif)(const QByteArray &data, QString *error);
    QByteArray (*encodeJxl)(const QImage &image, int quality, float distance, QString *error);
    QImage (*decodeJxl)(const QByteArray &data, QString *error);
    // As butteraugliDistance of metrics/: both figures NaN on failure.
    bool (*butteraugliDistance)(const QImage &reference, const QImage &test, double *pNorm3, double *max,
                                QString *error);
};

constexpr int StudyCodecTableVersion = 1;

// The name of the entry point, of type StudyCodecEntry.
#define VELTRANO_STUDY_CODECS_ENTRY "veltranoStudyCodecs"
using StudyCodecEntry = const StudyCodecTable *(*)();

} // namespace veltrano

#endif // STUDYCODECTABLE_H
