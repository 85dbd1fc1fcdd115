#include "cli/CliProgram.h"

#include <QCoreApplication>

// tarvik-cli: the meter jobs of Tarvik from a shell, on QtCore alone.
int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tarvik-cli"));
    CliProgram program;
    return program.Run(QCoreApplication::arguments());
}
