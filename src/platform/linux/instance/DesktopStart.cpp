#include "linux/instance/DesktopStart.h"

#include "instance/InstanceProtocol.h"
#include "linux/instance/InstanceHandover.h"
#include "linux/instance/SingleInstance.h"

#include <cstdio>

namespace vardelle {

int runDesktopOrForward(SingleInstance& instance, const std::function<int()>& runDesktop,
                        const InstanceClient::Timeouts& timeouts)
{
    InstanceHandover start;
    start.here = runDesktop;
    start.there = [&instance, &timeouts]() -> std::optional<int> {
        const InstanceClient::Reply reply = InstanceClient::request(
            instance.folder(), {{instance::commandKey, instance::showSettingsCommand}}, timeouts);
        switch (reply.outcome) {
        case InstanceClient::Outcome::notRunning:
            return std::nullopt; // it has just gone
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
                return std::nullopt;
            }
            if (line.contains(instance::errorKey)) {
                std::fprintf(stderr, "vardelle: %s\n",
                             qPrintable(line.value(instance::errorKey).toString()));
                return 1;
            }
        }
        std::fprintf(stderr, "vardelle: Vardelle is running but gave no answer\n");
        return 1;
    };
    start.whenDeclined = InstanceHandover::WhenDeclined::waitForClaim;
    start.hereWithoutFolder = false;
    start.giveUp = QStringLiteral("cannot become the running instance; try again");
    return takeInstanceOrHandOver(instance, start);
}

} // namespace vardelle
