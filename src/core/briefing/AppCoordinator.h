#pragma once

#include "briefing/AnnounceReason.h"
#include "briefing/AnnouncerState.h"
#include "news/NewsItem.h"
#include "time/Instant.h"

#include <QFuture>
#include <QList>
#include <QObject>
#include <QString>

#include <optional>

namespace vardelle {

class AppSettings;
class Clock;
class HeadlineStore;
class NewsService;
class Speaker;

// The one place where briefings start. Decides whether a request runs (a run in progress, the
// automatic-briefing settings, the minimum interval between automatic briefings), picks the time
// window, gathers, composes, records the briefing in the store and hands it to the speaker; also
// speaks the short fixed messages, replays the last briefing and previews the voice.
//
// Its state is published: each property has a signal emitted on every assignment, also of an
// equal value. Main thread only.
class AppCoordinator : public QObject {
    Q_OBJECT

public:
    AppCoordinator(AppSettings& settings, HeadlineStore& store, NewsService& news, Speaker& speaker,
                   const Clock& clock, QObject* parent = nullptr);

    // The process-wide coordinator, over the shared settings, store, gathering service and
    // speaker; created on first use, lives until the process ends.
    static AppCoordinator& shared();

    // The spoken messages.
    static const QString noCategoriesMessage;
    static const QString noCategoriesError;
    static const QString upToDateMessage;
    static const QString nothingToReplayMessage;
    static const QString unreachableMessage;
    static const QString unreachableError;

    AnnouncerState state() const { return m_state; }
    // Also written from outside: the shell sets idle after stopping the speaker.
    void setState(const AnnouncerState& state);
    QList<NewsItem> lastItems() const { return m_lastItems; }
    QString lastBriefing() const { return m_lastBriefing; }
    std::optional<QString> lastError() const { return m_lastError; }

    // One briefing run. The future finishes once the briefing or message has been handed to the
    // speaker, or at once when the request is dropped; it never waits for speech to end.
    // `since` is the start of the window; none means since the last gather.
    QFuture<void> announce(AnnounceReason reason, std::optional<Instant> since = std::nullopt);

    // Speaks the stored last briefing again, or says there is none.
    void replayLastBriefing();
    // Speaks `text` with the current voice and speed; the state does not change.
    void previewVoice(const QString& text);
    // What every Stop command does: speech ends at once and the state shows idle. A run that is
    // gathering goes on and speaks its result when the gather returns.
    void stopSpeaking();

signals:
    void stateChanged(const vardelle::AnnouncerState& state);
    void lastItemsChanged(const QList<vardelle::NewsItem>& items);
    void lastBriefingChanged(const QString& briefing);
    void lastErrorChanged(const std::optional<QString>& error);
    // Every text the coordinator hands to the speaker, as it is spoken.
    void speaking(const QString& text);

private:
    void setLastItems(const QList<NewsItem>& items);
    void setLastBriefing(const QString& briefing);
    void setLastError(const std::optional<QString>& error);
    bool passesGuards(AnnounceReason reason) const;
    void speak(const QString& text);

    AppSettings& m_settings;
    HeadlineStore& m_store;
    NewsService& m_news;
    Speaker& m_speaker;
    const Clock& m_clock;

    AnnouncerState m_state;
    QList<NewsItem> m_lastItems;
    QString m_lastBriefing;
    std::optional<QString> m_lastError;
    bool m_running = false;
    // Counts the texts handed to the speaker: only the completion of the latest one sets idle,
    // so the state reads speaking for as long as speech goes on.
    quint64 m_utterance = 0;
};

} // namespace vardelle
