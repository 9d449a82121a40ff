#ifndef OPENIMAGECOMMAND_H
#define OPENIMAGECOMMAND_H

#include <QString>

namespace veltrano {

struct CommandContext;

// "Open image": asks for a file, then opens it as openImageFile does.
void openImageCommand(const CommandContext &context);

// The question of "Open image": the window's open-file dialog (or the chooser
// installed in its place), starting in the working directory. Empty when it
// was cancelled.
QString chooseImageToOpen(const CommandContext &context);

// Loads fileName as the current image, tells a hybrid from a standard JPEG,
// decodes a hybrid file and shows the result, with the console lines of
// "Open image". Files dropped on the window are opened by this too.
void openImageFile(const CommandContext &context, const QString &fileName);

} // namespace veltrano

#endif // OPENIMAGECOMMAND_H
