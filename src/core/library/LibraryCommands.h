#pragma once

#include <QFuture>
#include <QList>
#include <QString>
#include <QStringList>

namespace vardelle {

class AppSettings;
class NewsService;

// What a command printed and how it ended: exit status 0 done, 1 refused, 2 usage or unreadable
// input. `out` goes to standard output, `err` (refusals and skipped entries, one a line) to
// standard error.
struct CommandOutput {
    int status = 0;
    QString out;
    QString err;
};

// The commands that edit the user's own feeds and watch list, run against one AppSettings:
//
//   feeds [list] | add URL [--name NAME] [--category C] | remove ID|URL | on|off ID... |
//         import FILE [--category C] | export [FILE]
//   watch [list] | add TERM... | remove TERM...
//
// The terminal runs them here when no desktop instance runs, and the desktop instance runs them
// for the terminal otherwise, so that one process writes the preferences. A command that would
// break a limit, or names something that is not there, changes nothing. Relative file names are
// taken from `directory`. Main thread only.
class LibraryCommands {
public:
    LibraryCommands(AppSettings& settings, NewsService& news);

    // `command` is "feeds" or "watch"; `arguments` follow it. Adding and importing download the
    // new addresses once; the future finishes when the command has ended.
    QFuture<CommandOutput> run(const QString& command, const QStringList& arguments,
                               const QString& directory);

    // The lines of `feeds list`: id, name, category raw value, on or off, address, tab-separated;
    // the catalogue first, then the own feeds.
    QStringList feedLines() const;

private:
    QFuture<CommandOutput> feeds(const QStringList& arguments, const QString& directory);
    CommandOutput watch(const QStringList& arguments);
    QFuture<CommandOutput> add(const QStringList& arguments);
    CommandOutput remove(const QString& which);
    CommandOutput switchFeeds(const QStringList& ids, bool on);
    QFuture<CommandOutput> import(const QStringList& arguments, const QString& directory);
    CommandOutput exportTo(const QStringList& arguments, const QString& directory);

    AppSettings& m_settings;
    NewsService& m_news;
};

} // namespace vardelle
