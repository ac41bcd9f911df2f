#include <QApplication>

#include "app/mainwindow.h"

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    MainWindow mainWin;
    mainWin.setWindowTitle("Lumivex");
    mainWin.show();
    return app.exec();
}
