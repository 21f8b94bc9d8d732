#include "linux/instance/InstanceHandover.h"

#include "instance/InstanceProtocol.h"
#include "linux/instance/SingleInstance.h"

#include <QEventLoop>
#include <QTimer>

#include <cstdio>

namespace vardelle {

namespace {

// Polls the lock until `instance` holds it, or its folder cannot be used.
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

void say(const InstanceHandover& work, const QString& line)
{
    std::fprintf(stderr, "%s: %s\n", qPrintable(work.program), qPrintable(line));
}

int runHere(SingleInstance& instance, const InstanceHandover& work)
{
    if (!work.busyMessage.isEmpty()) {
        QObject::connect(
            &instance, &SingleInstance::requested,
            [message = work.busyMessage](InstanceRequest* request) {
                request->finish({{instance::errorKey, message}, {instance::busyKey, true}});
            });
    }
    return work.here();
}

} // namespace

int takeInstanceOrHandOver(SingleInstance& instance, const InstanceHandover& work)
{
    using WhenDeclined = InstanceHandover::WhenDeclined;
    // Each pass either ends or sees the previous holder go away; more than one only when
    // processes start and stop in a race.
    for (int pass = 0; pass < 20; ++pass) {
        if (instance.claim())
            return runHere(instance, work);
        if (!instance.errorString().isEmpty()) {
            if (work.hereWithoutFolder)
                return runHere(instance, work);
            say(work, instance.errorString());
            return 1;
        }
        if (const std::optional<int> status = work.there())
            return *status;
        if (!SingleInstance::isHeld(instance.folder()))
            continue; // it has just gone: claim again
        switch (work.whenDeclined) {
        case WhenDeclined::retry:
            break;
        case WhenDeclined::runHere:
            return runHere(instance, work);
        case WhenDeclined::waitForClaim:
            waitForClaim(instance);
            if (instance.isClaimed())
                return runHere(instance, work);
            say(work, instance.errorString());
            return 1;
        }
    }
    if (work.giveUp.isEmpty())
        return runHere(instance, work);
    say(work, work.giveUp);
    return 1;
}

} // namespace vardelle
