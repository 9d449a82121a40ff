#ifndef COLORBATCH_H
#define COLORBATCH_H

#include <functional>

namespace veltrano {

// The colour compress/decompress batch over in/<name>.ppm. quality() is asked
// once per image (the window passes its spin box): above 20 plain JPEG at that
// quality, otherwise the F-transform experiment at quality + 50.
void runColorBatch(const std::function<int()> &quality);

// The same batch; returns false when it could not start because the weights
// file could not be opened ("cannot open weights file!" is then on standard
// output and no image was processed).
bool startColorBatch(const std::function<int()> &quality);

} // namespace veltrano

#endif // COLORBATCH_H
