#pragma once

#include "news/FeedSource.h"
#include "news/NewsCategory.h"
#include "news/OwnFeed.h"
#include "settings/PreferenceFile.h"

#include <QJsonArray>
#include <QList>
#include <QObject>
#include <QPointF>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <functional>
#include <optional>

namespace vardelle {

// The keys of the preference file, exact and case-sensitive.
namespace preferenceKeys {
inline constexpr QStringView enabledCategories = u"enabledCategories";
inline constexpr QStringView disabledFeeds = u"disabledFeeds";
inline constexpr QStringView maxHeadlines = u"maxHeadlines";
inline constexpr QStringView lookbackHours = u"lookbackHours";
inline constexpr QStringView voiceIdentifier = u"voiceIdentifier";
inline constexpr QStringView speechRate = u"speechRate";
inline constexpr QStringView announceOnLaunch = u"announceOnLaunch";
inline constexpr QStringView announceOnUnlock = u"announceOnUnlock";
inline constexpr QStringView quietMinutes = u"quietMinutes";
inline constexpr QStringView holdWhenBusy = u"holdWhenBusy";
inline constexpr QStringView backgroundRefreshMinutes = u"backgroundRefreshMinutes";
inline constexpr QStringView knownExploited = u"knownExploited";
inline constexpr QStringView bubbleHidden = u"bubbleHidden";
inline constexpr QStringView bubbleCompact = u"bubbleCompact";
// Holds the negation of AppSettings::isFirstRun: true once the first launch is over.
inline constexpr QStringView isFirstRun = u"isFirstRun";
inline constexpr QStringView watchTerms = u"watchTerms";
// Stored under the name it had when own feeds were first kept.
inline constexpr QStringView ownFeeds = u"customFeeds";
// The bubble's origin in screen points, written together (AppSettings::setBubbleOrigin()).
inline constexpr QStringView bubbleFrameX = u"bubbleFrameX";
inline constexpr QStringView bubbleFrameY = u"bubbleFrameY";
} // namespace preferenceKeys

// What a stored array of watch terms gives, read entry by entry: the first
// AppSettings::maxWatchTerms texts of 1 to AppSettings::maxTermLength characters once trimmed,
// trimmed, in order; every
// other element as it was stored (not a text, blank, too long, past the limit); and one line for
// each element left out, and one for all those past the limit. A value that is not an array
// reads as no terms, with a problem line.
struct WatchTermsRead {
    QStringList terms;
    QJsonArray unread;
    QStringList problems;
};
WatchTermsRead readWatchTerms(const QJsonValue& value);

// Every user preference, held in memory and written through to the preference file on every
// assignment. The file is read when the object is made, and again by update(); a stored value of
// the wrong kind gives the preference's default. Values are never clamped: the settings window
// keeps what it offers in range, and anything else stored is used as it stands.
//
// The two lists the user edits by hand are read entry by entry: a watch term that is not a text of
// 1 to maxTermLength characters, and an own feed of the wrong shape, is left out and reported
// once (a warning of the "vardelle.settings" category, which goes to standard error); only the
// first maxWatchTerms terms and maxOwnFeeds feeds are used. What is left out stays in the file:
// writing a list back keeps those entries after the ones in use, so that no change ever drops
// what the user wrote.
//
// Each property has a change signal that is emitted on every assignment, also of an equal value,
// after the new value is in place and before it is written to the file.
//
// Main thread only.
class AppSettings : public QObject {
    Q_OBJECT
    Q_PROPERTY(QSet<NewsCategory> enabledCategories READ enabledCategories WRITE
                   setEnabledCategories NOTIFY enabledCategoriesChanged)
    Q_PROPERTY(QSet<QString> disabledFeedIDs READ disabledFeedIDs WRITE setDisabledFeedIDs NOTIFY
                   disabledFeedIDsChanged)
    Q_PROPERTY(
        qint64 maxHeadlines READ maxHeadlines WRITE setMaxHeadlines NOTIFY maxHeadlinesChanged)
    Q_PROPERTY(
        qint64 lookbackHours READ lookbackHours WRITE setLookbackHours NOTIFY lookbackHoursChanged)
    Q_PROPERTY(QString voiceIdentifier READ voiceIdentifier WRITE setVoiceIdentifier NOTIFY
                   voiceIdentifierChanged)
    Q_PROPERTY(double speechRate READ speechRate WRITE setSpeechRate NOTIFY speechRateChanged)
    Q_PROPERTY(bool announceOnLaunch READ announceOnLaunch WRITE setAnnounceOnLaunch NOTIFY
                   announceOnLaunchChanged)
    Q_PROPERTY(bool announceOnUnlock READ announceOnUnlock WRITE setAnnounceOnUnlock NOTIFY
                   announceOnUnlockChanged)
    Q_PROPERTY(
        qint64 quietMinutes READ quietMinutes WRITE setQuietMinutes NOTIFY quietMinutesChanged)
    Q_PROPERTY(bool holdWhenBusy READ holdWhenBusy WRITE setHoldWhenBusy NOTIFY holdWhenBusyChanged)
    Q_PROPERTY(qint64 backgroundRefreshMinutes READ backgroundRefreshMinutes WRITE
                   setBackgroundRefreshMinutes NOTIFY backgroundRefreshMinutesChanged)
    // Whether the briefing tells which vulnerabilities are known to be exploited.
    Q_PROPERTY(bool knownExploited READ knownExploited WRITE setKnownExploited NOTIFY
                   knownExploitedChanged)
    Q_PROPERTY(bool bubbleHidden READ bubbleHidden WRITE setBubbleHidden NOTIFY bubbleHiddenChanged)
    Q_PROPERTY(
        bool bubbleCompact READ bubbleCompact WRITE setBubbleCompact NOTIFY bubbleCompactChanged)
    Q_PROPERTY(bool isFirstRun READ isFirstRun WRITE setIsFirstRun NOTIFY isFirstRunChanged)
    Q_PROPERTY(QStringList watchTerms READ watchTerms WRITE setWatchTerms NOTIFY watchTermsChanged)
    Q_PROPERTY(
        QList<vardelle::OwnFeed> ownFeeds READ ownFeeds WRITE setOwnFeeds NOTIFY ownFeedsChanged)

public:
    // The most watch terms and own feeds a user may keep, and the longest term (in characters,
    // after trimming). Commands and the settings window refuse a change that would go past them.
    static constexpr qsizetype maxWatchTerms = 200;
    static constexpr qsizetype maxOwnFeeds = 200;
    static constexpr qsizetype maxTermLength = 100;
    // Whether `term` may be a watch term: 1 to maxTermLength characters once trimmed.
    static bool isValidWatchTerm(const QString& term);

    // Reads the preference file at `preferencePath`; writes nothing.
    explicit AppSettings(const QString& preferencePath, QObject* parent = nullptr);

    // Runs `change` as one step of the preference file that no other process interleaves with:
    // under the file's lock, with every preference read again from the file first (a property
    // whose value changed in the file meanwhile tells its observers), so that a change computed
    // from what is read here (adding a term to the list) loses nothing another process stored.
    // False, and `change` not run, when the lock could not be had in PreferenceFile::lockWait;
    // lockError() says why.
    bool update(const std::function<void()>& change);
    QString lockError() const { return m_file.lockError(); }

    // The file behind the preferences, as last read or written.
    PreferenceFile& preferenceFile() { return m_file; }
    const PreferenceFile& preferenceFile() const { return m_file; }

    QSet<NewsCategory> enabledCategories() const { return m_enabledCategories; }
    QSet<QString> disabledFeedIDs() const { return m_disabledFeedIDs; }
    qint64 maxHeadlines() const { return m_maxHeadlines; }
    qint64 lookbackHours() const { return m_lookbackHours; }
    QString voiceIdentifier() const { return m_voiceIdentifier; } // empty: the default voice
    double speechRate() const { return m_speechRate; }            // 0 slowest, 1 fastest
    bool announceOnLaunch() const { return m_announceOnLaunch; }
    bool announceOnUnlock() const { return m_announceOnUnlock; }
    qint64 quietMinutes() const { return m_quietMinutes; }
    // Automatic briefings wait while do not disturb is on or a full-screen window is in front.
    bool holdWhenBusy() const { return m_holdWhenBusy; }
    // How old a feed's cached copy may grow while the desktop runs before it is asked again in
    // the background; 0: not at all. As stored: BackgroundRefresh raises the shortest.
    qint64 backgroundRefreshMinutes() const { return m_backgroundRefreshMinutes; }
    bool knownExploited() const { return m_knownExploited; }
    bool bubbleHidden() const { return m_bubbleHidden; }
    bool bubbleCompact() const { return m_bubbleCompact; }
    bool isFirstRun() const { return m_isFirstRun; }
    // As typed less their outer spaces, in the order they were added.
    QStringList watchTerms() const { return m_watchTerms; }
    QList<OwnFeed> ownFeeds() const { return m_ownFeeds; }

    void setEnabledCategories(const QSet<NewsCategory>& categories);
    void setDisabledFeedIDs(const QSet<QString>& ids);
    void setMaxHeadlines(qint64 count);
    void setLookbackHours(qint64 hours);
    void setVoiceIdentifier(const QString& identifier);
    void setSpeechRate(double rate);
    void setAnnounceOnLaunch(bool on);
    void setAnnounceOnUnlock(bool on);
    void setQuietMinutes(qint64 minutes);
    void setHoldWhenBusy(bool on);
    void setBackgroundRefreshMinutes(qint64 minutes);
    void setKnownExploited(bool on);
    void setBubbleHidden(bool hidden);
    void setBubbleCompact(bool compact);
    void setIsFirstRun(bool firstRun);
    void setWatchTerms(const QStringList& terms);
    void setOwnFeeds(const QList<OwnFeed>& feeds);

    // The stored bubble origin: present whenever "bubbleFrameX" holds any value; a coordinate that
    // is missing or not a number reads as 0.
    std::optional<QPointF> savedBubbleOrigin() const;
    // Stores the bubble window's top-left corner in screen points, or forgets it (none) so that
    // the next start places the bubble in its corner. Writes and emits only a change.
    void setBubbleOrigin(std::optional<QPointF> origin);

    // The feeds to gather: the catalogue's, in catalogue order, of an enabled category whose id
    // is not disabled, then the own feeds that are switched on and of an enabled category, in
    // the order they were added. Empty when there is nothing to gather.
    QList<FeedSource> activeSources() const;

signals:
    void enabledCategoriesChanged(const QSet<NewsCategory>& categories);
    void disabledFeedIDsChanged(const QSet<QString>& ids);
    void maxHeadlinesChanged(qint64 count);
    void lookbackHoursChanged(qint64 hours);
    void voiceIdentifierChanged(const QString& identifier);
    void speechRateChanged(double rate);
    void announceOnLaunchChanged(bool on);
    void announceOnUnlockChanged(bool on);
    void quietMinutesChanged(qint64 minutes);
    void holdWhenBusyChanged(bool on);
    void backgroundRefreshMinutesChanged(qint64 minutes);
    void knownExploitedChanged(bool on);
    void bubbleHiddenChanged(bool hidden);
    void bubbleCompactChanged(bool compact);
    void bubbleOriginChanged();
    void isFirstRunChanged(bool firstRun);
    void watchTermsChanged(const QStringList& terms);
    void ownFeedsChanged(const QList<vardelle::OwnFeed>& feeds);

private:
    // Reads every preference from the file; `initial` for the first time, when nothing is told
    // and what is left out of the lists is reported.
    void read(bool initial);

    PreferenceFile m_file;
    // Entries of the lists that are stored but not in use, written back after those in use.
    QJsonArray m_watchTermsUnread;
    QJsonArray m_ownFeedsUnread;
    QSet<NewsCategory> m_enabledCategories;
    QSet<QString> m_disabledFeedIDs;
    qint64 m_maxHeadlines = 12;
    qint64 m_lookbackHours = 24;
    QString m_voiceIdentifier;
    double m_speechRate = 0.5;
    bool m_announceOnLaunch = true;
    bool m_announceOnUnlock = true;
    qint64 m_quietMinutes = 30;
    bool m_holdWhenBusy = true;
    qint64 m_backgroundRefreshMinutes = 30;
    bool m_knownExploited = true;
    bool m_bubbleHidden = false;
    bool m_bubbleCompact = false;
    bool m_isFirstRun = true;
    QStringList m_watchTerms;
    QList<OwnFeed> m_ownFeeds;
};

} // namespace vardelle
