#include "cli/CliProgram.h"

#include <QCoreApplication>
#include <QGuiApplication>

#include <cstdlib>
#include <cstring>
#include <memory>

// tarvik-cli: the meter jobs of Tarvik from a shell, on QtCore alone; the datasheet needs fonts
// and a painter, so "sheet" and "report" run on QtGui with the offscreen platform (no display).
int main(int argc, char *argv[])
{
    std::unique_ptr<QCoreApplication> app;
    if (argc > 1 && (std::strcmp(argv[1], "sheet") == 0 || std::strcmp(argv[1], "report") == 0)) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        // Qt's own notes (no runtime folder, a painter that could not start) are not the
        // program's words: what failed is said by the command itself.
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &) {
            if (type == QtFatalMsg)
                std::abort();
        });
        app = std::make_unique<QGuiApplication>(argc, argv);
    } else {
        app = std::make_unique<QCoreApplication>(argc, argv);
    }
    QCoreApplication::setApplicationName(QStringLiteral("tarvik-cli"));
    CliProgram program;
    return program.Run(QCoreApplication::arguments());
}
