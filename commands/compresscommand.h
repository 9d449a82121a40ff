#ifndef COMPRESSCOMMAND_H
#define COMPRESSCOMMAND_H

namespace veltrano {

struct CommandContext;

// "Compress ": compresses the current image as plain JPEG at the spin box
// quality q and as hybrid JPEG at q + 50, shows both decoded images and
// reports the bits per pixel of both files.
void compressCommand(const CommandContext &context);

} // namespace veltrano

#endif // COMPRESSCOMMAND_H
