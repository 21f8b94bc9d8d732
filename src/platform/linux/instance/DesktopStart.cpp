#include "linux/instance/DesktopStart.h"

#include "instance/InstanceProtocol.h"
#include "linux/instance/SingleInstance.h"

#include <QEventLoop>
#include <QTimer>

#include <cstdio>

namespace vardelle {

namespace {

// Polls the lock until `instance` holds it.
void waitForClaim(SingleInstance& instance)
{
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(std::chrono::milliseconds(250));
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (instance.claim() || !instance.errorString().isEmpty())
            loop.quit();
    });
    poll.start();
    loop.exec();
}

} // namespace

int runDesktopOrForward(SingleInstance& instance, const std::function<int()>& runDesktop,
                        const InstanceClient::Timeouts& timeouts)
{
    // Each pass either ends the start or sees the previous holder go away; a handful of passes
    // only when processes start and stop in a race.
    for (int pass = 0; pass < 20; ++pass) {
        if (instance.claim())
            return runDesktop();
        if (!instance.errorString().isEmpty()) {
            std::fprintf(stderr, "vardelle: %s\n", qPrintable(instance.errorString()));
            return 1;
        }

        const InstanceClient::Reply reply = InstanceClient::request(
            instance.folder(), {{instance::commandKey, instance::showSettingsCommand}}, timeouts);
        switch (reply.outcome) {
        case InstanceClient::Outcome::notRunning:
            continue; // it has just gone: claim again
        case InstanceClient::Outcome::notAnswering:
        case InstanceClient::Outcome::closed:
            std::fprintf(stderr, "vardelle: %s\n", qPrintable(reply.error));
            return 1;
        case InstanceClient::Outcome::answered:
            break;
        }
        for (const QJsonObject& line : reply.lines) {
            if (line.value(instance::okKey).toBool())
                return 0;
            if (line.value(instance::busyKey).toBool()) {
                std::fprintf(stderr, "vardelle: %s; starting once it has finished\n",
                             qPrintable(line.value(instance::errorKey).toString()));
                waitForClaim(instance);
                break;
            }
            if (line.contains(instance::errorKey)) {
                std::fprintf(stderr, "vardelle: %s\n",
                             qPrintable(line.value(instance::errorKey).toString()));
                return 1;
            }
        }
        if (instance.isClaimed())
            return runDesktop();
        if (!instance.errorString().isEmpty()) {
            std::fprintf(stderr, "vardelle: %s\n", qPrintable(instance.errorString()));
            return 1;
        }
        std::fprintf(stderr, "vardelle: Vardelle is running but gave no answer\n");
        return 1;
    }
    std::fprintf(stderr, "vardelle: cannot become the running instance; try again\n");
    return 1;
}

} // namespace vardelle
