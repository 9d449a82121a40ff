#ifndef PIXELROWS_H
#define PIXELROWS_H

#include <cstdint>

namespace veltrano {

// Rows of byte-ordered pixels, as PPM and PGM files and numpy arrays hold
// them, to and from the 32-bit words the transforms work on (red in bits 16
// to 23, green 8 to 15, blue 0 to 7; alpha 0xFF on the way in, ignored on the
// way out). Byte shuffles do the work where the processor has SSSE3; every
// path gives the same bytes.

// count pixels of red, green, blue bytes to words.
void rgbBytesToWords(const unsigned char *in, std::uint32_t *out, int count);
// count grey bytes to words of that grey.
void greyBytesToWords(const unsigned char *in, std::uint32_t *out, int count);
// count words to red, green, blue bytes.
void wordsToRgbBytes(const std::uint32_t *in, unsigned char *out, int count);

} // namespace veltrano

#endif // PIXELROWS_H
