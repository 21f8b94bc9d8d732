#pragma once

#include <QString>

#include <functional>
#include <optional>

namespace vardelle {

class SingleInstance;

// How a `vardelle` process takes the instance of this user's session, or hands its work over to
// the process that holds it. Each process that needs the instance describes its work here and
// calls takeInstanceOrHandOver().
struct InstanceHandover {
    // What a holder that declined the work, and still holds the instance, leaves this process
    // to do.
    enum class WhenDeclined {
        retry,        // claim again, and ask again, a few times
        waitForClaim, // wait until the holder lets the instance go, then run here
        runHere,      // run here next to the holder
    };

    // The work in this process, with the instance claimed (or, with `hereWithoutFolder`, with
    // no runtime folder to claim it in); returns the exit status.
    std::function<int()> here;
    // The work handed to the running instance: its exit status, or none when no instance took
    // it (none runs any more, or the holder is another terminal command that serves no
    // requests).
    std::function<std::optional<int>()> there;
    WhenDeclined whenDeclined = WhenDeclined::retry;
    // Without a usable runtime folder no other instance can run either: run here. Otherwise say
    // why on stderr and fail.
    bool hereWithoutFolder = true;
    // While `here` runs, every request to the instance is answered busy with this message; empty
    // when `here` serves the requests itself.
    QString busyMessage;
    // Said on stderr, with exit status 1, when the instance changes hands too often to settle;
    // empty to run here then.
    QString giveUp;
    // Prefix of the lines said on stderr: "vardelle" or "vardelle COMMAND".
    QString program = QStringLiteral("vardelle");
};

// Claims `instance` and runs the work here, or hands it to the instance that runs; returns the
// exit status. Needs an application object for its event loop.
int takeInstanceOrHandOver(SingleInstance& instance, const InstanceHandover& work);

} // namespace vardelle
