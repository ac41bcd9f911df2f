#pragma once

#include <QHash>
#include <QKeySequence>
#include <QList>
#include <QPair>
#include <QString>

class QAction;
class QDialog;
class QMenuBar;
class QWidget;

// The inputs of the picture and what each does, in the order Help ▸ Keys and Mouse lists
// them; the menu shortcuts follow them there.
QList<QPair<QString, QString>> pictureInputs();

// A window (not modal) with the table of inputs: those of the picture, then the shortcuts of
// `menus` in menu order, each with its action's name; `names` names actions whose menu text says
// more (undo and redo name the step they would undo).
QDialog* createKeysDialog(QWidget* parent, const QMenuBar* menus, const QHash<const QAction*, QString>& names);

// The text of Help ▸ About.
QString aboutText();
