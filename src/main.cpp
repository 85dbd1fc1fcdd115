#include "app/CDocManager.h"
#include "app/CTarvikApp.h"
#include "app/ShellStart.h"
#include "base/UserMessage.h"

#include <QApplication>
#include <QEventLoop>
#include <QStringList>

int main(int argc, char *argv[])
{
    QApplication qapp(argc, argv);
    // Paths the desktop handed over (a double-clicked document) are taken before the working
    // folder may change; a plain start opens nothing.
    const QStringList documents = ShellStart::DocumentPaths(QApplication::arguments());
    QString folderError;
    QStringList looked;
    const QString dataDir = ShellStart::DataSource(QApplication::applicationDirPath(), &looked);
    if (dataDir.isEmpty())
        folderError = QStringLiteral("The program's data files (meter layouts, lists) were not "
                                     "found: looked in %1.")
                          .arg(looked.join(QStringLiteral(", ")));
    ShellStart::EnterWorkFolder(dataDir, ShellStart::UserWorkDir(), &folderError);
    CTarvikApp app;
    if (!app.InitInstance())
        return 1;
    if (!folderError.isEmpty())
        UserMessage::Show(folderError);
    for (const QString &path : documents)
        app.DocManager()->OpenDocumentFile(path);
    const int code = qapp.exec();
    // Windows closed on Exit may have left the meter link a command to send (a meter back to run
    // mode): the program ends once it is out, paced as the meter needs it.
    QEventLoop lastSend;
    if (app.CloseForExit([&lastSend] { lastSend.quit(); }))
        lastSend.exec();
    return code;
}
