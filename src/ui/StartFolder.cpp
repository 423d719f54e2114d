#include "StartFolder.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

#include <sys/stat.h>

#include "fileio/FileQuery.h"

namespace tessera::ui {

namespace {

constexpr char kLastFolderKey[] = "FileDialogs/LastFolder";

bool IsFolder(const std::string& path)
{
    return FileTypeAt(path) == S_IFDIR;
}

// The folder part of an absolute path; "/" for a name at the root.
std::string FolderOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return {};
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

}  // namespace

QString StartFolder(const std::string& fieldPath)
{
    if (!fieldPath.empty() && fieldPath.front() == '/') {
        const std::string folder = FolderOf(fieldPath);
        if (IsFolder(folder))
            return QString::fromStdString(folder);
    }
    const QString last = QSettings().value(QLatin1String(kLastFolderKey)).toString();
    if (QDir::isAbsolutePath(last) && IsFolder(last.toStdString()))
        return last;
    return QDir::homePath();
}

void RememberFolder(const QString& chosenFile)
{
    const QString folder = QFileInfo(chosenFile).absolutePath();
    if (!QDir::isAbsolutePath(chosenFile) || folder.isEmpty())
        return;
    QSettings().setValue(QLatin1String(kLastFolderKey), folder);
}

}  // namespace tessera::ui
