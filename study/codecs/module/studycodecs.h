#ifndef STUDYCODECS_H
#define STUDYCODECS_H

#include "study/codecs/module/studycodectable.h"

#include <QString>

namespace veltrano {

// The loader of the study-codec module, linked into the programs (not into
// the module): the forwarders of study/codecs/ (webpcodec.h, avifcodec.h,
// jxlcodec.h) and metrics/butteraugli.h call through it.
//
// The study-codec module's functions, the module loaded at the first call
// (once per process, safe from any thread) and kept to the end. Null, with
// *error set when given, when it cannot be loaded: the message names the
// file tried and the loader's reason, and every later call gives the same.
const StudyCodecTable *studyCodecs(QString *error);

// The file the module is loaded from. Code that lies in this build tree (its
// programs and its Python module) takes the build tree's module; any other
// copy, installed or unpacked anywhere, takes <libdir>/veltrano/ of its own
// installation, found from the running executable (bin/../<libdir>).
QString studyCodecsModulePath();

} // namespace veltrano

#endif // STUDYCODECS_H
