#include "app/CTarvikApp.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication qapp(argc, argv);
    CTarvikApp app;
    if (!app.InitInstance())
        return 1;
    return qapp.exec();
}
