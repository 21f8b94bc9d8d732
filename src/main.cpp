#include "cli/Cli.h"

#include <QCoreApplication>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Vardelle"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VARDELLE_VERSION));
    return vardelle::cli::run(QCoreApplication::arguments());
}
