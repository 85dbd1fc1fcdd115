#include "app/CDocManager.h"
#include "app/CTarvikApp.h"
#include "app/ShellStart.h"
#include "base/UserMessage.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication qapp(argc, argv);
    // Paths the desktop handed over (a double-clicked document) are taken before the working
    // folder may change; a plain start opens nothing.
    const QStringList documents = ShellStart::DocumentPaths(QApplication::arguments());
    QString folderError;
    ShellStart::EnterWorkFolder(ShellStart::InstalledDataDir(QApplication::applicationDirPath()),
        ShellStart::UserWorkDir(), &folderError);
    CTarvikApp app;
    if (!app.InitInstance())
        return 1;
    if (!folderError.isEmpty())
        UserMessage::Show(folderError);
    for (const QString &path : documents)
        app.DocManager()->OpenDocumentFile(path);
    return qapp.exec();
}
