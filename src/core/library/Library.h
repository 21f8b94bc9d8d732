#pragma once

#include "library/LibraryRefusal.h"
#include "library/LibraryRequest.h"
#include "library/Opml.h"
#include "news/OwnFeed.h"

#include <QFuture>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <utility>
#include <variant>

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

// What an import did: the feeds added, the entries skipped (each with its reason, in the order
// of the file), and how many were among the feeds already; or, when it added nothing at all,
// why.
struct ImportOutcome {
    qsizetype added = 0;
    qsizetype present = 0;
    QList<LibraryRefusal> skipped;
    std::optional<LibraryRefusal> refusal;
};

// The library: the feeds Vardelle gathers (the catalogue's, each switched on or off, and the
// user's own feeds) and the watch list, as stored in one AppSettings. Each change is one step of
// the preference file (AppSettings::update()); one that would break a limit, or names something
// that is not there, changes nothing and says why. The command line and the settings window
// both edit through here; the desktop instance runs here what a terminal asks of it (perform()),
// so that its windows show the change at once. Files are read and written by the process that
// names them: readImport() and exportTo(). Main thread only.
class Library {
public:
    // An import's file may be at most this large, and list at most this many feeds.
    static constexpr qint64 maxImportBytes = 16 * 1024 * 1024;
    static constexpr qsizetype maxImportEntries = ImportRequest::maxEntries;

    Library(AppSettings& settings, NewsService& news);

    // Fetches `address` once and adds it as an own feed, named `name`, else by the feed's own
    // title, else by its host.
    QFuture<std::variant<OwnFeed, LibraryRefusal>>
    addOwnFeed(const QString& address, const QString& name, NewsCategory category);
    // Removes the own feed of that id or address; a catalogue feed is refused.
    std::optional<LibraryRefusal> removeOwnFeed(const QString& idOrAddress);
    // Switches feeds, catalogue or own, by id; an unknown id switches none of them.
    std::optional<LibraryRefusal> switchFeeds(const QStringList& ids, bool on);
    // Adds terms, kept without their outer spaces; none unless all can be.
    std::optional<LibraryRefusal> addWatchTerms(const QStringList& terms);
    // Removes terms, matched ignoring case; none unless all are there.
    std::optional<LibraryRefusal> removeWatchTerms(const QStringList& terms);
    // Adds the feeds of `request` that are not there yet, each fetched once.
    QFuture<ImportOutcome> importFeeds(const ImportRequest& request);
    // Every feed, the catalogue's and the own ones, as OPML 2.0.
    QByteArray exportDocument() const;
    // Writes exportDocument() to `file`, relative to `directory` (see writeUserFile()).
    std::optional<LibraryRefusal> exportTo(const QString& file, const QString& directory) const;

    // One feed a line: id, name, category key, on or off, address, tab-separated; the catalogue
    // first, then the own feeds.
    QStringList feedLines() const;
    static QString feedLine(const FeedSource& source, bool on);

    // The feeds of the OPML file `file` (relative to `directory`, or - for standard input): a
    // regular file or standard input, at most maxImportBytes, an OPML document of at most
    // maxImportEntries feeds.
    static std::variant<ImportRequest, LibraryRefusal>
    readImport(const QString& file, const QString& directory, std::optional<NewsCategory> fallback);
    // The same from the bytes of the file, named `from` in refusals.
    static std::variant<ImportRequest, LibraryRefusal>
    importFromBytes(const QByteArray& bytes, const QString& from,
                    std::optional<NewsCategory> fallback);

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
        QList<std::pair<qsizetype, LibraryRefusal>> skipped;
        qsizetype present = 0;
        // Addresses the import could add at most, each counted once.
        qsizetype newAddresses = 0;
    };
    static ImportPlan planImport(const QList<OpmlEntry>& entries, const QList<OwnFeed>& own);

    // Runs `request` and says what `vardelle feeds` or `vardelle watch` prints for it and its
    // exit status. Adding and importing download the new addresses once; the future finishes
    // when the request has been carried out.
    QFuture<CommandOutput> perform(const LibraryRequest& request);
    // What a terminal command prints for a refusal, and its exit status.
    static CommandOutput output(const LibraryRefusal& refusal);
    static CommandOutput output(const ImportOutcome& outcome);

private:
    std::optional<LibraryRefusal>
    edit(const std::function<std::optional<LibraryRefusal>()>& change);

    AppSettings& m_settings;
    NewsService& m_news;
};

} // namespace vardelle
