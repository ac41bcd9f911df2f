#pragma once

class QSaveFile;

// Puts a QSaveFile's new contents in place of the old file, or discards them. `writesOk` says
// whether every write the caller made succeeded. A write that failed while the file flushed its
// buffer shows only in error(), which QSaveFile::commit() does not look at, so it is checked
// here. True only when the new file is in place; otherwise the old file is as it was.
bool commitSaveFile(QSaveFile& file, bool writesOk);
