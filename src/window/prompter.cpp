#include "window/prompter.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QMainWindow>
#include <QMessageBox>
#include <QRegularExpression>
#include <QStatusBar>

namespace {

// The first suffix a file dialog filter names, "png" for "PNG picture (*.png)".
QString filterSuffix(const QString& filter)
{
    return QRegularExpression(QStringLiteral("\\*\\.(\\w+)")).match(filter).captured(1);
}

} // namespace

QString Prompter::askFileName(bool forSaving, const QString& filter) const
{
    QString chosenFilter = filter.section(";;", 0, 0);
    QString name;
    if (m_asker) {
        name = m_asker(forSaving);
    } else if (!forSaving) {
        name = QFileDialog::getOpenFileName(m_window, QString(), QString(), filter);
    } else {
        QFileDialog dialog(m_window);
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setNameFilter(filter);
        // The dialog adds the chosen type's suffix itself, and asks before replacing that file.
        dialog.setDefaultSuffix(filterSuffix(chosenFilter));
        QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog,
                         [&dialog](const QString& f) { dialog.setDefaultSuffix(filterSuffix(f)); });
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return QString();
        name = dialog.selectedFiles().first();
        chosenFilter = dialog.selectedNameFilter();
    }
    // A name without a suffix takes the chosen type's, unless it is standard output ("-") or a
    // device or pipe that is written into as it is.
    const QFileInfo info(name);
    const QString suffix = filterSuffix(chosenFilter);
    if (forSaving && !name.isEmpty() && !suffix.isEmpty() && info.suffix().isEmpty() && name != "-" &&
        !(info.exists() && !info.isFile()))
        name += "." + suffix;
    return name;
}

void Prompter::say(const QString& text) const
{
    m_window->statusBar()->showMessage(text);
}

void Prompter::flash(const QString& text) const
{
    m_window->statusBar()->showMessage(text, kPassingMs);
}

void Prompter::warn(const QString& why) const
{
    QMessageBox::warning(m_window, "Lumivex", why);
}

void Prompter::fail(const QString& why) const
{
    say(tr("Error"));
    warn(why);
}
