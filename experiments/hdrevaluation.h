#ifndef HDREVALUATION_H
#define HDREVALUATION_H

// The HDR evaluation: mse and ssim of out/hdr.ppm against its 97 decompressed
// versions, one row each in "out_hdr_test_ftih.csv".
void runHdrEvaluation();

#endif // HDREVALUATION_H
