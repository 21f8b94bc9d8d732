#include "settings/AppSettings.h"

#include <QStringList>

#include <algorithm>

namespace vardelle {

namespace {

QSet<NewsCategory> allCategories()
{
    return QSet<NewsCategory>(allNewsCategories.begin(), allNewsCategories.end());
}

// Every element a string: the categories they name, unknown names skipped (possibly none at
// all). Otherwise every category.
QSet<NewsCategory> readEnabledCategories(const PreferenceFile& file)
{
    const std::optional<QStringList> raws = file.stringArray(preferenceKeys::enabledCategories);
    if (!raws)
        return allCategories();
    QSet<NewsCategory> categories;
    for (const QString& raw : *raws) {
        if (const std::optional<NewsCategory> category = newsCategoryFromRawValue(raw))
            categories.insert(*category);
    }
    return categories;
}

QSet<QString> readDisabledFeedIDs(const PreferenceFile& file)
{
    const QStringList ids = file.stringArray(preferenceKeys::disabledFeeds).value_or(QStringList());
    return QSet<QString>(ids.begin(), ids.end());
}

// Strings only, or none at all; terms of no use (blank, or too long) are left out.
QStringList readWatchTerms(const PreferenceFile& file)
{
    QStringList terms = file.stringArray(preferenceKeys::watchTerms).value_or(QStringList());
    terms.removeIf([](const QString& term) { return !AppSettings::isValidWatchTerm(term); });
    return terms;
}

// Stored in the order categories are always listed, so the file does not churn.
QStringList storedForm(const QSet<NewsCategory>& categories)
{
    QStringList raws;
    for (NewsCategory category : allNewsCategories) {
        if (categories.contains(category))
            raws.append(rawValue(category));
    }
    return raws;
}

QStringList storedForm(const QSet<QString>& ids)
{
    QStringList sorted(ids.begin(), ids.end());
    std::sort(sorted.begin(), sorted.end());
    return sorted;
}

} // namespace

AppSettings::AppSettings(const QString& preferencePath, QObject* parent)
    : QObject(parent)
    , m_defaults(preferencePath)
{
    namespace key = preferenceKeys;
    m_enabledCategories = readEnabledCategories(m_defaults);
    m_disabledFeedIDs = readDisabledFeedIDs(m_defaults);
    m_maxHeadlines = m_defaults.integer(key::maxHeadlines).value_or(12);
    m_lookbackHours = m_defaults.integer(key::lookbackHours).value_or(24);
    m_voiceIdentifier = m_defaults.string(key::voiceIdentifier).value_or(QString());
    m_speechRate = m_defaults.number(key::speechRate).value_or(0.5);
    m_announceOnLaunch = m_defaults.boolean(key::announceOnLaunch).value_or(true);
    m_announceOnUnlock = m_defaults.boolean(key::announceOnUnlock).value_or(true);
    m_quietMinutes = m_defaults.integer(key::quietMinutes).value_or(30);
    m_holdWhenBusy = m_defaults.boolean(key::holdWhenBusy).value_or(true);
    m_bubbleHidden = m_defaults.boolean(key::bubbleHidden).value_or(false);
    m_bubbleCompact = m_defaults.boolean(key::bubbleCompact).value_or(false);
    m_isFirstRun = !m_defaults.boolean(key::isFirstRun).value_or(false);
    m_watchTerms = readWatchTerms(m_defaults);
    m_customFeeds = ownFeedsFromJson(m_defaults.value(key::customFeeds));
}

bool AppSettings::isValidWatchTerm(const QString& term)
{
    const QString trimmed = term.trimmed();
    if (trimmed.isEmpty())
        return false;
    const auto characters =
        trimmed.size() -
        std::count_if(trimmed.cbegin(), trimmed.cend(), [](QChar c) { return c.isLowSurrogate(); });
    return characters <= maxTermLength;
}

// Each setter stores the value, tells its observers, then writes what the property holds by then,
// so that an observer that assigns again in between leaves its own value in the file. A failed
// write is not reported; the in-memory value stays the truth for this run.

void AppSettings::setEnabledCategories(const QSet<NewsCategory>& categories)
{
    m_enabledCategories = categories;
    emit enabledCategoriesChanged(m_enabledCategories);
    m_defaults.setStringArray(preferenceKeys::enabledCategories, storedForm(m_enabledCategories));
}

void AppSettings::setDisabledFeedIDs(const QSet<QString>& ids)
{
    m_disabledFeedIDs = ids;
    emit disabledFeedIDsChanged(m_disabledFeedIDs);
    m_defaults.setStringArray(preferenceKeys::disabledFeeds, storedForm(m_disabledFeedIDs));
}

void AppSettings::setMaxHeadlines(qint64 count)
{
    m_maxHeadlines = count;
    emit maxHeadlinesChanged(m_maxHeadlines);
    m_defaults.setInteger(preferenceKeys::maxHeadlines, m_maxHeadlines);
}

void AppSettings::setLookbackHours(qint64 hours)
{
    m_lookbackHours = hours;
    emit lookbackHoursChanged(m_lookbackHours);
    m_defaults.setInteger(preferenceKeys::lookbackHours, m_lookbackHours);
}

void AppSettings::setVoiceIdentifier(const QString& identifier)
{
    m_voiceIdentifier = identifier;
    emit voiceIdentifierChanged(m_voiceIdentifier);
    m_defaults.setString(preferenceKeys::voiceIdentifier, m_voiceIdentifier);
}

void AppSettings::setSpeechRate(double rate)
{
    m_speechRate = rate;
    emit speechRateChanged(m_speechRate);
    m_defaults.setNumber(preferenceKeys::speechRate, m_speechRate);
}

void AppSettings::setAnnounceOnLaunch(bool on)
{
    m_announceOnLaunch = on;
    emit announceOnLaunchChanged(m_announceOnLaunch);
    m_defaults.setBoolean(preferenceKeys::announceOnLaunch, m_announceOnLaunch);
}

void AppSettings::setAnnounceOnUnlock(bool on)
{
    m_announceOnUnlock = on;
    emit announceOnUnlockChanged(m_announceOnUnlock);
    m_defaults.setBoolean(preferenceKeys::announceOnUnlock, m_announceOnUnlock);
}

void AppSettings::setHoldWhenBusy(bool on)
{
    m_holdWhenBusy = on;
    emit holdWhenBusyChanged(m_holdWhenBusy);
    m_defaults.setBoolean(preferenceKeys::holdWhenBusy, m_holdWhenBusy);
}

void AppSettings::setQuietMinutes(qint64 minutes)
{
    m_quietMinutes = minutes;
    emit quietMinutesChanged(m_quietMinutes);
    m_defaults.setInteger(preferenceKeys::quietMinutes, m_quietMinutes);
}

void AppSettings::setBubbleHidden(bool hidden)
{
    m_bubbleHidden = hidden;
    emit bubbleHiddenChanged(m_bubbleHidden);
    m_defaults.setBoolean(preferenceKeys::bubbleHidden, m_bubbleHidden);
}

void AppSettings::setBubbleCompact(bool compact)
{
    m_bubbleCompact = compact;
    emit bubbleCompactChanged(m_bubbleCompact);
    m_defaults.setBoolean(preferenceKeys::bubbleCompact, m_bubbleCompact);
}

void AppSettings::setIsFirstRun(bool firstRun)
{
    m_isFirstRun = firstRun;
    emit isFirstRunChanged(m_isFirstRun);
    m_defaults.setBoolean(preferenceKeys::isFirstRun, !m_isFirstRun);
}

void AppSettings::setWatchTerms(const QStringList& terms)
{
    m_watchTerms = terms;
    emit watchTermsChanged(m_watchTerms);
    m_defaults.setStringArray(preferenceKeys::watchTerms, m_watchTerms);
}

void AppSettings::setCustomFeeds(const QList<OwnFeed>& feeds)
{
    m_customFeeds = feeds;
    emit customFeedsChanged(m_customFeeds);
    m_defaults.setValue(preferenceKeys::customFeeds, toJson(m_customFeeds));
}

std::optional<QPointF> AppSettings::savedBubbleOrigin() const
{
    if (!m_defaults.contains(preferenceKeys::bubbleFrameX))
        return std::nullopt;
    return QPointF(m_defaults.number(preferenceKeys::bubbleFrameX).value_or(0.0),
                   m_defaults.number(preferenceKeys::bubbleFrameY).value_or(0.0));
}

QList<FeedSource> AppSettings::activeSources() const
{
    QList<FeedSource> sources;
    for (const FeedSource& source : FeedSource::catalog()) {
        if (m_enabledCategories.contains(source.category) && !m_disabledFeedIDs.contains(source.id))
            sources.append(source);
    }
    for (const OwnFeed& feed : m_customFeeds) {
        if (feed.enabled && m_enabledCategories.contains(feed.category))
            sources.append(feed.source());
    }
    return sources;
}

} // namespace vardelle
