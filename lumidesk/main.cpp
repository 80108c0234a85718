// lumidesk: the operator's window over lumiload. Gives the application its
// look and shows the window. On Windows Qt's window-program entry point
// turns the command line into argc/argv and calls this function.

#include <QApplication>
#include <QIcon>

#include "DeskStyle.h"
#include "MainWindow.h"

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    applyDeskStyle();
    QGuiApplication::setWindowIcon(QIcon(":/icons/logo.ico"));

    MainWindow window;
    window.show();
    return QApplication::exec();
}
