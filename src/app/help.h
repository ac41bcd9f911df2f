#pragma once

#include <QList>
#include <QPair>
#include <QString>

class QAction;
class QDialog;
class QWidget;

// The inputs of the picture and what each does, in the order Help ▸ Keys and Mouse lists
// them; the menu shortcuts follow them there.
QList<QPair<QString, QString>> pictureInputs();

// A window (not modal) with the table of inputs: those of the picture, then the shortcut of
// each action in `actions` that has one.
QDialog* createKeysDialog(QWidget* parent, const QList<QAction*>& actions);

// The text of Help ▸ About.
QString aboutText();
