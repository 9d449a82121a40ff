#include "compresscommand.h"

#include "commandcontext.h"
#include "consolelog.h"

void compressCommand(const CommandContext &context)
{
    if (!*context.imageOpened) {
        appendStatusLine(context.console, QStringLiteral(" - No file selected!"));
        return;
    }
    // Not built yet: the compression itself comes with the codec.
}
