#ifndef HDREVALUATION_H
#define HDREVALUATION_H

namespace veltrano {

// The HDR evaluation: mse and ssim of out/hdr.ppm against its 97 decompressed
// versions, one row each in "out_hdr_test_ftih.csv".
void runHdrEvaluation();

// The same evaluation; returns false when "out_hdr_test_ftih.csv" could not be
// opened ("cannot open output file\n" is then on standard output) or could not
// be written in full (told on standard error).
bool startHdrEvaluation();

} // namespace veltrano

#endif // HDREVALUATION_H
