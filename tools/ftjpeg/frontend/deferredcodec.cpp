// The front end's in-memory halves of the codec commands: none. Each hands
// the command to the full program, which runs it again from its start.

#include "tools/ftjpeg/inmemorycodec.h"

#include "tools/ftjpeg/subcommand.h"

namespace veltrano {

int directInMemory(const QString &, const QString &, const QByteArray &, int, int)
{
    return ExitInFullProgram;
}

int inverseInMemory(const QString &, const QString &, const QByteArray &, int, int, int, int, const QList<float> &,
                    bool)
{
    return ExitInFullProgram;
}

int compressInMemory(const QString &, const QString &, int, const QList<float> &, const QString &, const QString &,
                     const QByteArray &)
{
    return ExitInFullProgram;
}

int compressVariantInMemory(const SubcommandParser &, const VariantOptions &, const QString &, const QString &, int,
                            const QString &, const QString &, const QByteArray &)
{
    return ExitInFullProgram;
}

int decompressInMemory(const QString &, const QString &, const QByteArray &, const QList<float> &, const QString &)
{
    return ExitInFullProgram;
}

int decompressVariantInMemory(const QString &, const QString &, const QByteArray &)
{
    return ExitInFullProgram;
}

} // namespace veltrano
