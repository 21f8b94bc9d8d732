#pragma once

#include "files/FileLock.h"
#include "news/NewsItem.h"
#include "time/Instant.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QUrl>

#include <chrono>
#include <optional>
#include <sys/types.h>

namespace vardelle {

class Clock;

// What is kept of one feed address between gathers.
struct FeedCacheEntry {
    QList<NewsItem> items;          // the stories of its last good answer
    std::optional<Instant> fetched; // when that answer came; none when there was none yet
    QByteArray etag;                // the validators exactly as received; empty when not sent
    QByteArray lastModified;
    std::optional<std::chrono::seconds> freshFor; // the server's max-age, or Expires less Date
    std::optional<Instant> retryAfter;            // not asked again before this

    bool hasCopy() const { return fetched.has_value(); }
    bool operator==(const FeedCacheEntry&) const = default;
};

// The feeds' last answers, per address, in one JSON file under the user's cache folder. The
// desktop and the command line share the file: it is written atomically, re-read when another
// process changed it, and merged on save, under the file's lock ("<file>.lock"), so that one
// process's answers do not undo the other's.
// A file that cannot be read (corrupt, of the wrong shape, too large, not a regular file) is
// renamed to "<file>.corrupt" and the cache starts empty; an entry that cannot be read is
// dropped alone. The file stays within `maxBytes`: the entries fetched longest ago go first.
// Main thread only.
class FeedCache {
public:
    static constexpr qint64 defaultMaxBytes = 16 * 1024 * 1024;
    // An answer is used again without asking for at least this long...
    static constexpr std::chrono::minutes shortestFreshness{10};
    // ...and for at most this long, whatever the server says.
    static constexpr std::chrono::minutes longestFreshness{60};
    // A Retry-After further ahead than this is cut to it.
    static constexpr std::chrono::hours longestRetryAfter{24};
    // How long a save waits for another process's save to end.
    static constexpr std::chrono::milliseconds lockWait{2000};

    // `clock` must outlive the cache. Nothing is read before the first refresh().
    FeedCache(QString filePath, const Clock& clock, qint64 maxBytes = defaultMaxBytes);

    // $XDG_CACHE_HOME/Vardelle/feeds.json
    static QString defaultFilePath();
    const QString& filePath() const { return m_filePath; }

    // Reads the file again when it changed since this object last read or wrote it; the
    // entries stored here and not yet saved stay as they are.
    void refresh();
    std::optional<FeedCacheEntry> find(const QUrl& address) const;
    void insert(const QUrl& address, FeedCacheEntry entry);
    // Writes every entry, the newest first, as many as fit. False when the write failed; the
    // entries stay in memory and are written with the next save.
    bool save();
    qsizetype size() const { return m_entries.size(); }
    bool hasUnsavedEntries() const { return !m_unsaved.isEmpty(); }

    // Whether `entry` answered recently enough to be used without asking: less than its
    // freshness ago, kept between the shortest and the longest above.
    bool isFresh(const FeedCacheEntry& entry) const;
    // Whether the server asked not to be asked again yet.
    bool isHeldOff(const FeedCacheEntry& entry) const;

private:
    struct FileStamp {
        dev_t device = 0;
        ino_t inode = 0;
        off_t size = -1;
        qint64 modifiedNs = 0;
        bool operator==(const FileStamp&) const = default;
    };

    bool saveLocked();
    static QString keyOf(const QUrl& address);
    std::optional<FileStamp> stampOfFile() const;
    // The file's entries; none when it cannot be read and should be set aside.
    std::optional<QHash<QString, FeedCacheEntry>> readFile() const;
    void setAside() const;

    const QString m_filePath;
    const Clock& m_clock;
    const qint64 m_maxBytes;
    QHash<QString, FeedCacheEntry> m_entries;
    QHash<QString, FeedCacheEntry> m_unsaved; // stored here since the last save
    std::optional<FileStamp> m_readStamp;     // the file as last read or written here
    FileLock m_lock;
};

} // namespace vardelle
