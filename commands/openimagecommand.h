#ifndef OPENIMAGECOMMAND_H
#define OPENIMAGECOMMAND_H

struct CommandContext;

// "Open image": asks for a file, loads it as the current image, tells a
// hybrid from a standard JPEG, decodes a hybrid file and shows the result.
void openImageCommand(const CommandContext &context);

#endif // OPENIMAGECOMMAND_H
