#include "jpegqualitysweep.h"

// Not built yet.
void runJpegQualitySweep()
{
}
