#include <QApplication>

#include "app/CKivOneClickApp.h"

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("kivupgrade"));
    CKivOneClickApp app;
    return app.InitInstance();
}
