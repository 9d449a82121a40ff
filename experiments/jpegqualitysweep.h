#ifndef JPEGQUALITYSWEEP_H
#define JPEGQUALITYSWEEP_H

namespace veltrano {

// The JPEG quality sweep over the ready-made texture files under temp/ at
// qualities 0, 10, ..., 100: bits per pixel on standard output, completed by
// the image-difference program's report.
void runJpegQualitySweep();

// The same sweep; returns false when "jpeg_stat.csv" could not be opened
// ("cannot open output file\n" is then on standard output and no row was
// written).
bool startJpegQualitySweep();

} // namespace veltrano

#endif // JPEGQUALITYSWEEP_H
