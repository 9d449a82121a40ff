#include "study/codecs/module/studycodecs.h"

#include "platform/modulefile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <dlfcn.h>
#include <link.h>

namespace veltrano {

namespace {

// The executable or shared object (the Python module) this code was linked
// into.
QString codeObject()
{
    Dl_info info;
    link_map *map = nullptr;
    if (dladdr1(reinterpret_cast<void *>(&codeObject), &info, reinterpret_cast<void **>(&map), RTLD_DL_LINKMAP)
        && map && map->l_name && map->l_name[0])
        return QFileInfo(QFile::decodeName(map->l_name)).canonicalFilePath();
    return runningExecutable();
}

struct LoadedModule
{
    const StudyCodecTable *table = nullptr;
    QString error;
};

LoadedModule loadModule()
{
    LoadedModule loaded;
    const QString file = studyCodecsModulePath();
    const auto refuse = [&loaded, &file](const QString &reason) {
        loaded.error = QStringLiteral("WebP, AVIF, JPEG XL and Butteraugli need the module %1, which cannot be "
                                      "loaded: %2")
                           .arg(QDir::toNativeSeparators(file), reason);
        return loaded;
    };
    QString reason;
    void *handle = openModule(file, &reason);
    if (!handle)
        return refuse(reason);
    const auto entry = reinterpret_cast<StudyCodecEntry>(dlsym(handle, VELTRANO_STUDY_CODECS_ENTRY));
    const StudyCodecTable *table = entry ? entry() : nullptr;
    if (!table || table->version != StudyCodecTableVersion || table->size != int(sizeof(StudyCodecTable))) {
        dlclose(handle);
        return refuse(table ? QStringLiteral("it is of another version (table %1, this program's %2)")
                                  .arg(table->version)
                                  .arg(StudyCodecTableVersion)
                            : QStringLiteral("it has no entry point " VELTRANO_STUDY_CODECS_ENTRY));
    }
    loaded.table = table;
    return loaded;
}

} // namespace

QString studyCodecsModulePath()
{
    return moduleFile(codeObject(), QStringLiteral(VELTRANO_STUDY_CODECS_BUILD_FILE),
                      QStringLiteral(VELTRANO_STUDY_CODECS_FROM_BINDIR));
}

const StudyCodecTable *studyCodecs(QString *error)
{
    static const LoadedModule loaded = loadModule();
    if (!loaded.table && error)
        *error = loaded.error;
    return loaded.table;
}

} // namespace veltrano
