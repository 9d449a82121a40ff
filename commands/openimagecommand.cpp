#include "openimagecommand.h"

#include "commandcontext.h"

void openImageCommand(const CommandContext &)
{
    // Not built yet: comes with the codec.
}
