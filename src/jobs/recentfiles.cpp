#include "jobs/recentfiles.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <cstdio>
#include <memory>
#include <utility>

#include "fileio/fileaccess.h"

namespace {

// The window's settings, from their own file only.
std::unique_ptr<QSettings> openSettings()
{
    const QString org = QCoreApplication::organizationName();
    // Where QSettings keeps them by default.
    const QString path = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + '/' +
                         (org.isEmpty() ? QStringLiteral("Unknown Organization") : org) + '/' +
                         QCoreApplication::applicationName() + QStringLiteral(".conf");
    QByteArray bytes;
    QString why;
    const FileRead read = readWholeFile(path, 1 << 20, "a settings file", bytes, &why);
    if (read == FileRead::NotRegular || read == FileRead::TooLarge) {
        static bool said = false;
        if (!std::exchange(said, true))
            std::fprintf(stderr, "lumivex: %s; settings are not read or kept\n", qPrintable(why));
        return nullptr;
    }
    return std::make_unique<QSettings>(path, QSettings::IniFormat);
}

} // namespace

QStringList RecentFiles::list()
{
    const auto settings = openSettings();
    return settings ? settings->value("recentFiles").toStringList() : QStringList();
}

QStringList RecentFiles::remember(const QString& fileName)
{
    const auto settings = openSettings();
    if (!settings)
        return QStringList();
    QStringList files = settings->value("recentFiles").toStringList();
    const QString path = QFileInfo(fileName).absoluteFilePath();
    files.removeAll(path);
    files.prepend(path);
    while (files.size() > kMax)
        files.removeLast();
    settings->setValue("recentFiles", files);
    return files;
}
