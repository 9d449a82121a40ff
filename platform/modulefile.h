#ifndef MODULEFILE_H
#define MODULEFILE_H

#include <QString>

namespace veltrano {

// The file of the executable this process runs, its links resolved.
QString runningExecutable();

// The file of one of the project's modules (loaded with dlopen) for code
// linked into linkedInto, an executable or a shared object: buildFile when
// linkedInto lies in the build tree, otherwise fromBindir, a path relative
// to the folder of the running executable (an installation's bin/).
QString moduleFile(const QString &linkedInto, const QString &buildFile, const QString &fromBindir);

// Opens a module (dlopen, every symbol bound now, none shared with others),
// or returns null with *reason set to the loader's words, without the file
// name they mostly start with.
void *openModule(const QString &file, QString *reason);

} // namespace veltrano

#endif // MODULEFILE_H
