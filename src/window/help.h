#pragma once

#include <QKeySequence>
#include <QList>
#include <QPair>
#include <QString>

class QDialog;
class QWidget;

// The inputs of the picture and what each does, in the order Help ▸ Keys and Mouse lists
// them; the menu shortcuts follow them there.
QList<QPair<QString, QString>> pictureInputs();

// A window (not modal) with the table of inputs: those of the picture, then `shortcuts`, each
// with the name of what it does.
QDialog* createKeysDialog(QWidget* parent, const QList<QPair<QKeySequence, QString>>& shortcuts);

// The text of Help ▸ About.
QString aboutText();
