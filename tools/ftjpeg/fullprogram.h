#ifndef FULLPROGRAM_H
#define FULLPROGRAM_H

namespace veltrano {

// The entry point of the full ftjpeg program, the module the front end
// loads: the program's main(), run on the front end's argc and argv. It
// makes the application object itself, as a program's main does.
#define VELTRANO_FULL_PROGRAM_ENTRY "veltranoFtjpegMain"
using FullProgramEntry = int (*)(int argc, char *argv[]);

} // namespace veltrano

#endif // FULLPROGRAM_H
