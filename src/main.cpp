#include "cli/Cli.h"
#include "linux/X11Window.h"

#include <QCoreApplication>

int main(int argc, char* argv[])
{
    // Before any application object: the bubble needs a platform that lets it place itself.
    vardelle::x11::preferXWayland();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Vardelle"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VARDELLE_VERSION));
    return vardelle::cli::run(QCoreApplication::arguments());
}
