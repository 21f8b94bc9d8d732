#pragma once

#include "news/NewsItem.h"
#include "store/StoredState.h"
#include "time/Instant.h"

#include <QList>
#include <QMutex>
#include <QObject>
#include <QString>

#include <optional>

namespace vardelle {

class Clock;

// Remembers which stories were announced, when the last gather and the last briefing with news
// were recorded, and the items and text of the last briefing. The state lives in memory and is
// written whole to state.json after every change.
//
// Every public operation holds one private mutex for its whole body, the file write included,
// so operations from any thread run one at a time in the order they take the lock. Nothing is
// called out of the store while the lock is held (the clock aside, which must not call back).
// Failures are absorbed: an unreadable file means an empty history, a failed write is ignored.
// lastGatherChanged() follows every change of lastGather(), emitted in the thread that made it
// once the lock is let go.
class HeadlineStore : public QObject {
    Q_OBJECT

public:
    // Loads `filePath` if it holds a readable state; otherwise starts empty. A file that exists
    // but cannot be read or decoded is first moved aside to `<filePath>.corrupt`, so the next
    // save does not destroy the history it may still hold. Creates the file's folder; writes
    // nothing else. `clock` must outlive the store.
    explicit HeadlineStore(QString filePath, const Clock& clock);
    HeadlineStore(const HeadlineStore&) = delete;
    HeadlineStore& operator=(const HeadlineStore&) = delete;

    // Where the user's store keeps its file: $XDG_DATA_HOME/Vardelle/state.json.
    static QString defaultFilePath();

    std::optional<Instant> lastGather() const;
    std::optional<Instant> lastAnnouncement() const;
    QList<NewsItem> lastItems() const;
    QString lastBriefing() const;
    // A copy of everything at once.
    StoredState state() const;

    // The given items whose id is not in the history, in their given order; with
    // `skipLeftOut`, also without those a briefing left out for its length.
    QList<NewsItem> unseen(const QList<NewsItem>& items, bool skipLeftOut = false) const;

    // The CVE ids told as newly known to be exploited.
    QStringList toldExploitedIDs() const;

    // Records one finished gather: sets the last-gather time, and the last-announcement time
    // when `announced`; replaces the last items and briefing; appends the items' ids to the
    // history, `leftOut` to the ids left out for the briefing's length and `toldExploited` to
    // the CVE ids told as newly known to be exploited (keeping the newest
    // StoredState::seenLimit of each); saves.
    void record(const QList<NewsItem>& items, const QString& briefing, bool announced,
                const QStringList& leftOut = {}, const QStringList& toldExploited = {});
    // Records a gather that told nothing: sets the last-gather time and appends `leftOut` only,
    // so the last briefing and its items stay what was last spoken; saves.
    void recordGather(const QStringList& leftOut = {});
    // Back to an empty state, saved.
    void forgetHistory();
    // Back to `state`, as state() gave it earlier, saved.
    void restore(const StoredState& state);

    QString filePath() const { return m_filePath; }

signals:
    void lastGatherChanged();

private:
    // Runs `change` under the lock, then tells whether it changed the last gather.
    template <typename Change> void change(Change&& change);

    void load();
    void save() const; // with m_mutex held

    const QString m_filePath;
    const Clock& m_clock;
    mutable QMutex m_mutex;
    StoredState m_state;
};

} // namespace vardelle
