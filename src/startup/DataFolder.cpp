#include "startup/DataFolder.h"

#include "startup/ConfigFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

QString dataFolderFor(const QString& exeFolder) {
    const QDir beside(exeFolder);
    if (QFileInfo(beside.filePath(QString::fromLatin1(kFileDataName))).isFile())
        return beside.path();
    const QString shared = QDir::cleanPath(beside.filePath(QStringLiteral("../share/qv840n")));
    if (QFileInfo(QDir(shared).filePath(QString::fromLatin1(kFileDataName))).isFile())
        return shared;
    return beside.path();
}

QString dataFolder() {
    return dataFolderFor(applicationFolder());
}

QString userDataFile(const QString& name) {
    const QString dir = qEnvironmentVariable("QV840N_DATA_DIR");
    if (!dir.isEmpty())
        return QDir(dir).filePath(name);
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    return QDir(data).filePath(QStringLiteral("qv840n/") + name);
}
