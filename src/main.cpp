#include "cli/Cli.h"
#include "linux/desktop/X11Window.h"
#include "shell/DesktopApp.h"

#include <QCoreApplication>

int main(int argc, char* argv[])
{
    // Before any application object: the bubble needs a platform that lets it place itself.
    vardelle::x11::preferXWayland();

    // No command: the desktop accessory.
    if (argc <= 1)
        return vardelle::runDesktop(argc, argv);

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Vardelle"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VARDELLE_VERSION));
    return vardelle::cli::run(QCoreApplication::arguments());
}
