#pragma once

#include <QStringList>

namespace vardelle::cli {

// Exit statuses of the terminal commands. `Unreachable`: a briefing that reached no feed at all,
// so a script can tell being offline from being up to date.
enum ExitStatus : int { Success = 0, Failure = 1, UsageError = 2, Unreachable = 3 };

// Runs the command named in `arguments` (the whole command line, program name first) and
// returns the process's exit status.
int run(const QStringList& arguments);

int parseCommand(const QStringList& arguments);
int cleanCommand(const QStringList& arguments);
int briefCommand(const QStringList& arguments);
int voicesCommand(const QStringList& arguments);
int feedsCommand(const QStringList& arguments);
int watchCommand(const QStringList& arguments);

} // namespace vardelle::cli
