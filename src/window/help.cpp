#include "window/help.h"

#include <QAction>
#include <QDialog>
#include <QMenu>
#include <QMenuBar>
#include <QDialogButtonBox>
#include <QLabel>
#include <QVBoxLayout>

#ifndef LUMIVEX_VERSION
#define LUMIVEX_VERSION "unknown"
#endif

QList<QPair<QString, QString>> pictureInputs()
{
    const auto tr = [](const char* text) { return QDialog::tr(text); };
    return {
        {tr("A / D"), tr("camera left / right by 0.1")},
        {tr("W / S"), tr("camera up / down by 0.1 (picture rows grow downwards)")},
        {tr("Z / X"), tr("camera back from / towards the scene by 0.1")},
        {tr("Mouse wheel over the picture"),
         tr("turned away from you: back by 0.1; towards you: towards the scene (every turn; the scroll bars "
            "scroll)")},
        {tr("Mouse wheel over a panel"), tr("scrolls the panel; the camera stays")},
        {tr("Drag, any button"), tr("moves the camera with the mouse; rendered in full on release")},
        {tr("Q"), tr("smooth the picture once with the Gaussian blur")},
        {tr("Any other key"), tr("render again")},
        {tr("Escape"), tr("close (asking first about unsaved key frames)")},
        {tr("Ctrl, Alt, Meta"), tr("with a key: menu shortcuts only; alone: nothing (Alt selects the menu bar; "
                                   "Escape there gives the keys back)")},
        {tr("Any key or click, while a preview plays"), tr("stops the preview; the camera is where it was")},
        {tr("Delete, in Key Frames"), tr("delete the key frames selected")},
        {tr("Double-click, F2 or Return, in Key Frames"), tr("edit the cell; a letter there moves the camera")},
    };
}

QDialog* createKeysDialog(QWidget* parent, const QMenuBar* menus, const QHash<const QAction*, QString>& names)
{
    QList<QPair<QKeySequence, QString>> shortcuts;
    for (const QAction* menu : menus->actions())
        if (menu->menu())
            for (const QAction* a : menu->menu()->actions())
                if (!a->shortcut().isEmpty())
                    shortcuts.append({a->shortcut(), names.value(a, a->iconText())});
    QString rows;
    const auto row = [&rows](const QString& input, const QString& effect) {
        rows += QStringLiteral("<tr><td><b>%1</b></td><td>%2</td></tr>").arg(input.toHtmlEscaped(), effect.toHtmlEscaped());
    };
    for (const auto& [input, effect] : pictureInputs())
        row(input, effect);
    for (const auto& [keys, name] : shortcuts)
        row(keys.toString(QKeySequence::NativeText), name);

    auto* dialog = new QDialog(parent);
    dialog->setWindowTitle(QDialog::tr("Keys and Mouse"));
    auto* label = new QLabel(QStringLiteral("<table cellspacing=\"6\">%1</table>").arg(rows));
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::close);
    auto* column = new QVBoxLayout(dialog);
    column->addWidget(label);
    column->addWidget(buttons);
    return dialog;
}

QString aboutText()
{
    return QDialog::tr("<p><b>Lumivex %1</b></p>"
                       "<p>Renders a scene of two spheres, three tori and two coloured lights by sphere "
                       "tracing, and moves the camera through it.</p><p>Built with Qt %2.</p>")
        .arg(QStringLiteral(LUMIVEX_VERSION), QStringLiteral(QT_VERSION_STR));
}
