#pragma once

#include <QString>
#include <QStringList>

// The window's recent scene files, newest first, kept in its settings file. A settings file that
// is not a regular file (a pipe would hang the window) or is far too large is left alone, said
// once on stderr; there are then no recent files.
namespace RecentFiles {

// At most this many are kept.
constexpr int kMax = 8;

QStringList list();
// Puts `fileName`, made absolute, first in the list, once; the list as it is then.
QStringList remember(const QString& fileName);

} // namespace RecentFiles
