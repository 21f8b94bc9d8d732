#pragma once

#include "library/Opml.h"
#include "news/OwnFeed.h"

#include <QFuture>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>
#include <utility>

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

// The commands that edit the user's own feeds and watch list, run against one AppSettings, each
// change one step of the preference file (AppSettings::update()):
//
//   feeds [list] | add URL [--name NAME] [--category C] | remove ID|URL | on|off ID... |
//         import FILE [--category C] | export [FILE]
//   watch [list] | add TERM... | remove TERM...
//
// The terminal runs them here when no desktop instance runs, and the desktop instance runs them
// for the terminal otherwise, so that its settings window shows the change at once. A command
// that would break a limit, or names something that is not there, changes nothing. Files are read
// and written by the process that runs the command; the terminal reads an import's file itself
// (importRequest()) and hands the desktop the feeds it lists, and writes an export's file from
// exportDocument(). Relative file names are taken from `directory`. Main thread only.
class LibraryCommands {
public:
    // An import's file may be at most this large, and list at most this many feeds.
    static constexpr qint64 maxImportBytes = 16 * 1024 * 1024;
    static constexpr qsizetype maxImportEntries = 1000;

    // The feeds of an OPML file to import.
    struct ImportRequest {
        QList<OpmlEntry> entries;
        std::optional<NewsCategory> fallback; // for entries whose outline names no category
        QString from;                         // the file, as messages name it
    };

    LibraryCommands(AppSettings& settings, NewsService& news);

    // `command` is "feeds" or "watch"; `arguments` follow it. Adding and importing download the
    // new addresses once; the future finishes when the command has ended.
    QFuture<CommandOutput> run(const QString& command, const QStringList& arguments,
                               const QString& directory);

    // The lines of `feeds list`: id, name, category raw value, on or off, address, tab-separated;
    // the catalogue first, then the own feeds.
    QStringList feedLines() const;

    // The arguments of `feeds import` (FILE, or - for standard input, and --category) with the
    // file read: a regular file or standard input, at most maxImportBytes, an OPML document of at
    // most maxImportEntries feeds. None, with `refusal` set, otherwise.
    static std::optional<ImportRequest>
    importRequest(const QStringList& arguments, const QString& directory, CommandOutput& refusal);
    // The same from the bytes of the file, named `from` in messages.
    static std::optional<ImportRequest> importFromBytes(const QByteArray& bytes,
                                                        const QString& from,
                                                        std::optional<NewsCategory> fallback,
                                                        CommandOutput& refusal);
    // What an import of `entries` would do next to the `own` feeds: the entries to fetch once
    // (an http or https address not among the feeds; one listed again is fetched too, and added
    // only when no earlier listing was), each entry that is no web address with the reason it is
    // skipped, both with their places in the list, and how many are among the feeds already.
    struct ImportPlan {
        struct Candidate {
            OpmlEntry entry;
            QUrl url;
            qsizetype index;
        };
        QList<Candidate> candidates;
        QList<std::pair<qsizetype, QString>> skipped;
        qsizetype present = 0;
        // Addresses the import could add at most, each counted once.
        qsizetype newAddresses = 0;
    };
    static ImportPlan planImport(const QList<OpmlEntry>& entries, const QList<OwnFeed>& own);

    // The "feeds-import" request of the instance protocol that carries `request`, and back: none
    // unless every part has its kind (entries of texts, categories that are raw values), with
    // at most maxImportEntries entries.
    static QJsonObject importMessage(const ImportRequest& request);
    static std::optional<ImportRequest> importFromMessage(const QJsonObject& message);

    // A "feeds", "watch" or "feeds-import" request of the instance protocol, as the process that
    // serves it takes it: none, with `error` set, when a part is not of its kind or it would
    // have this process open a file the client named (an import's or an export's).
    struct Request {
        QString command;
        QStringList arguments;
        QString directory;
        std::optional<ImportRequest> import;
    };
    static std::optional<Request> requestFromMessage(const QJsonObject& message, QString& error);
    QFuture<CommandOutput> run(const Request& request);
    // Adds the feeds of `request` that are not there yet, each fetched once; as `feeds import`.
    QFuture<CommandOutput> importFeeds(const ImportRequest& request);
    // Every feed, the catalogue's and the own ones, as OPML 2.0.
    QByteArray exportDocument() const;
    // Writes exportDocument() to `file` (see writeUserFile()).
    CommandOutput exportTo(const QString& file, const QString& directory) const;

private:
    QFuture<CommandOutput> feeds(const QStringList& arguments, const QString& directory);
    CommandOutput watch(const QStringList& arguments);
    CommandOutput watchNow(const QStringList& arguments);
    QFuture<CommandOutput> add(const QStringList& arguments);
    CommandOutput remove(const QString& which);
    CommandOutput removeNow(const QString& which);
    CommandOutput switchFeeds(const QStringList& ids, bool on);
    CommandOutput switchFeedsNow(const QStringList& ids, bool on);

    AppSettings& m_settings;
    NewsService& m_news;
};

} // namespace vardelle
