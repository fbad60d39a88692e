#include <QApplication>

#include "app/CKivOneClickApp.h"
#include "app/WindowCommandLine.h"

int main(int argc, char** argv)
{
    if (const int status = HandleWindowCommandLine(argc, argv); status >= 0)
        return status;
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("kivupgrade"));
    CKivOneClickApp app;
    return app.InitInstance();
}
