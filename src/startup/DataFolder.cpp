#include "startup/DataFolder.h"

#include "startup/ConfigFiles.h"

#include <QDir>
#include <QFileInfo>

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
