#include <QApplication>

#include "app/WindowCommandLine.h"
#include "gui/CKivOneClickApp.h"

int main(int argc, char** argv)
{
    if (const int status = HandleWindowCommandLine(argc, argv); status >= 0)
        return status;
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("kivupgrade"));
    CKivOneClickApp app;
    return app.InitInstance();
}
