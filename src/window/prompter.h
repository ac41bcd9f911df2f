#pragma once

#include <QCoreApplication>
#include <QString>
#include <functional>

class QMainWindow;

// How the window's commands speak with the user: they ask for a file name, say what happened in
// the status bar, and say why a command failed in a box as well. The file dialogs can be
// replaced, so that tests open none.
class Prompter {
    Q_DECLARE_TR_FUNCTIONS(Prompter)

public:
    // How long a passing message stays in the status bar.
    static constexpr int kPassingMs = 2000;
    // Work that takes longer than this shows how far it has come.
    static constexpr int kProgressAfterMs = 300;

    // Asks for the file of a save (true) or load (false); empty means cancelled.
    using FileNameAsker = std::function<QString(bool forSaving)>;

    explicit Prompter(QMainWindow* window) : m_window(window) {}

    void setFileNameAsker(FileNameAsker asker) { m_asker = std::move(asker); }
    // `filter` lists the choices of the dialog; a name saved without a suffix takes the chosen
    // type's.
    QString askFileName(bool forSaving, const QString& filter = QString()) const;
    // `text` in the status bar until the next message, or for kPassingMs only.
    void say(const QString& text) const;
    void flash(const QString& text) const;
    // Says why a command failed, in a box.
    void warn(const QString& why) const;
    // "Error" in the status bar, and why in a box.
    void fail(const QString& why) const;

private:
    QMainWindow* m_window;
    FileNameAsker m_asker;
};
