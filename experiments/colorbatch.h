#ifndef COLORBATCH_H
#define COLORBATCH_H

#include <functional>

// The colour compress/decompress batch over in/<name>.ppm. quality() is asked
// once per image (the window passes its spin box): above 20 plain JPEG at that
// quality, otherwise the F-transform experiment at quality + 50.
void runColorBatch(const std::function<int()> &quality);

#endif // COLORBATCH_H
