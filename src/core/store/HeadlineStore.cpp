#include "store/HeadlineStore.h"

#include "files/AtomicFile.h"

#include "time/Clock.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QStandardPaths>

#include <cstdio>

namespace vardelle {

HeadlineStore::HeadlineStore(QString filePath, const Clock& clock)
    : m_filePath(std::move(filePath))
    , m_clock(clock)
{
    QDir().mkpath(QFileInfo(m_filePath).absolutePath());
    load();
}

QString HeadlineStore::defaultFilePath()
{
    // The generic data folder, so the place does not depend on the application's names.
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           u"/Vardelle/state.json"_qs;
}

void HeadlineStore::load()
{
    // Only the constructor calls this, before the store can be shared, so no lock is needed.
    if (!QFile::exists(m_filePath))
        return;

    std::optional<StoredState> loaded;
    QFile file(m_filePath);
    if (file.open(QIODevice::ReadOnly))
        loaded = decodeStoredState(file.readAll());
    file.close();

    if (loaded) {
        m_state = std::move(*loaded);
        return;
    }
    // Keep what cannot be read for a person to look at; the next save would overwrite it.
    // rename(2) replaces an older copy in one step. A failure leaves the file where it is.
    const QByteArray from = QFile::encodeName(m_filePath);
    const QByteArray to = QFile::encodeName(m_filePath + u".corrupt"_qs);
    std::rename(from.constData(), to.constData());
}

void HeadlineStore::save() const
{
    // A failed write leaves the previous file whole; the state in memory stays the truth.
    writeFileAtomically(m_filePath, encodeStoredState(m_state));
}

std::optional<Instant> HeadlineStore::lastGather() const
{
    QMutexLocker lock(&m_mutex);
    return m_state.lastGather;
}

std::optional<Instant> HeadlineStore::lastAnnouncement() const
{
    QMutexLocker lock(&m_mutex);
    return m_state.lastAnnouncement;
}

QList<NewsItem> HeadlineStore::lastItems() const
{
    QMutexLocker lock(&m_mutex);
    return m_state.lastItems;
}

QString HeadlineStore::lastBriefing() const
{
    QMutexLocker lock(&m_mutex);
    return m_state.lastBriefing;
}

QStringList HeadlineStore::toldExploitedIDs() const
{
    QMutexLocker lock(&m_mutex);
    return m_state.toldExploitedIDs;
}

StoredState HeadlineStore::state() const
{
    QMutexLocker lock(&m_mutex);
    return m_state;
}

QList<NewsItem> HeadlineStore::unseen(const QList<NewsItem>& items, bool skipLeftOut) const
{
    QMutexLocker lock(&m_mutex);
    QSet<QString> seen(m_state.seenIDs.cbegin(), m_state.seenIDs.cend());
    if (skipLeftOut)
        seen.unite(QSet<QString>(m_state.leftOutIDs.cbegin(), m_state.leftOutIDs.cend()));
    QList<NewsItem> result;
    result.reserve(items.size());
    for (const NewsItem& item : items) {
        if (!seen.contains(item.id))
            result.append(item);
    }
    return result;
}

namespace {

// Keeps the newest StoredState::seenLimit ids.
void keepNewest(QStringList& ids)
{
    const qsizetype excess = ids.size() - StoredState::seenLimit;
    if (excess > 0)
        ids.remove(0, excess);
}

} // namespace

template <typename Change> void HeadlineStore::change(Change&& change)
{
    std::optional<Instant> before;
    std::optional<Instant> after;
    {
        QMutexLocker lock(&m_mutex);
        before = m_state.lastGather;
        change();
        save();
        after = m_state.lastGather;
    }
    if (before != after)
        emit lastGatherChanged();
}

void HeadlineStore::record(const QList<NewsItem>& items, const QString& briefing, bool announced,
                           const QStringList& leftOut, const QStringList& toldExploited)
{
    change([&] {
        m_state.lastGather = m_clock.now();
        if (announced)
            m_state.lastAnnouncement = m_clock.now();
        m_state.lastItems = items;
        m_state.lastBriefing = briefing;
        for (const NewsItem& item : items)
            m_state.seenIDs.append(item.id);
        keepNewest(m_state.seenIDs);
        m_state.leftOutIDs.append(leftOut);
        keepNewest(m_state.leftOutIDs);
        m_state.toldExploitedIDs.append(toldExploited);
        keepNewest(m_state.toldExploitedIDs);
    });
}

void HeadlineStore::recordGather(const QStringList& leftOut)
{
    change([&] {
        m_state.lastGather = m_clock.now();
        m_state.leftOutIDs.append(leftOut);
        keepNewest(m_state.leftOutIDs);
    });
}

void HeadlineStore::restore(const StoredState& state)
{
    change([&] { m_state = state; });
}

void HeadlineStore::forgetHistory()
{
    change([&] { m_state = StoredState{}; });
}

} // namespace vardelle
