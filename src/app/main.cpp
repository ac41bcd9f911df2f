#include <QApplication>
#include <cstdio>

#include "app/mainwindow.h"

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName("Lumivex");
    QCoreApplication::setApplicationName("Lumivex");
    MainWindow mainWin;
    mainWin.setWindowTitle("Lumivex");
    // `lumivex FILE` opens a scene file of either format; a bad one leaves the built-in scene.
    const QStringList args = app.arguments();
    if (args.size() > 1) {
        QString why;
        if (!mainWin.openFile(args.at(1), &why))
            std::fprintf(stderr, "lumivex: %s\n", qPrintable(why));
    }
    mainWin.show();
    return app.exec();
}
