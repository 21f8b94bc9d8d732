#pragma once

#include "linux/instance/InstanceClient.h"

#include <functional>

namespace vardelle {

class SingleInstance;

// What `vardelle` without a command does first, before it builds any window: become the one
// instance of this user's session, or hand the start over to the instance already running.
//
// - `instance` claimed: runs `runDesktop` and returns its exit status. `instance` stays claimed
//   while it runs; connect its requested() signal to serve the other processes.
// - Another desktop instance runs: asks it to show its settings window (the user started the
//   program again, so show something) and returns 0.
// - A `vardelle brief` in a terminal holds the instance: says so on stderr, waits until it has
//   finished, then claims the instance and runs `runDesktop`.
// - The running instance does not answer, or the runtime folder cannot be used: prints why on
//   stderr and returns 1.
//
// Needs an application object (QCoreApplication or QApplication) for its event loop.
int runDesktopOrForward(SingleInstance& instance, const std::function<int()>& runDesktop,
                        const InstanceClient::Timeouts& timeouts = {});

} // namespace vardelle
