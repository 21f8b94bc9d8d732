#include "settings/AppSettings.h"

#include <QLoggingCategory>
#include <QStringList>

#include <algorithm>

namespace vardelle {

namespace {

Q_LOGGING_CATEGORY(settingsLog, "vardelle.settings", QtWarningMsg)

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
        if (const std::optional<NewsCategory> category = newsCategoryFromIdentifier(raw))
            categories.insert(*category);
    }
    return categories;
}

QSet<QString> readDisabledFeedIDs(const PreferenceFile& file)
{
    const QStringList ids = file.stringArray(preferenceKeys::disabledFeeds).value_or(QStringList());
    return QSet<QString>(ids.begin(), ids.end());
}

void report(const PreferenceFile& file, QStringView key, const QStringList& problems)
{
    for (const QString& problem : problems)
        qCWarning(settingsLog).noquote()
            << file.path() + u": "_qs + key.toString() + u": "_qs + problem;
}

// Assigns `value` to `member`, and tells through `changed` when it differs.
template <typename T, typename Signal>
void take(AppSettings* settings, T& member, T value, Signal changed, bool tell)
{
    if (member == value)
        return;
    member = std::move(value);
    if (tell)
        emit(settings->*changed)(member);
}

// Stored in the order categories are always listed, so the file does not churn.
QStringList storedForm(const QSet<NewsCategory>& categories)
{
    QStringList raws;
    for (NewsCategory category : allNewsCategories) {
        if (categories.contains(category))
            raws.append(identifier(category));
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

// The first maxWatchTerms terms of use; every other element (not a text, blank, too long, or past
// the limit) as it was stored.
WatchTermsRead readWatchTerms(const QJsonValue& value)
{
    WatchTermsRead read;
    if (value.isUndefined() || value.isNull())
        return read;
    if (!value.isArray()) {
        read.problems.append(QStringLiteral("not a list of terms; none used"));
        return read;
    }
    qsizetype past = 0;
    qsizetype index = 0;
    for (const QJsonValue& element : value.toArray()) {
        ++index;
        if (!element.isString() || !AppSettings::isValidWatchTerm(element.toString())) {
            read.unread.append(element);
            read.problems.append(u"entry "_qs + QString::number(index) + u" left out: "_qs +
                                 (element.isString()
                                      ? u"a term is 1 to "_qs +
                                            QString::number(AppSettings::maxTermLength) +
                                            u" characters"_qs
                                      : u"not a text"_qs));
        } else if (read.terms.size() >= AppSettings::maxWatchTerms) {
            read.unread.append(element);
            ++past;
        } else {
            read.terms.append(element.toString().trimmed());
        }
    }
    if (past > 0)
        read.problems.append(QString::number(past) + u" terms past the first "_qs +
                             QString::number(AppSettings::maxWatchTerms) +
                             u" are kept but not used"_qs);
    return read;
}

AppSettings::AppSettings(const QString& preferencePath, QObject* parent)
    : QObject(parent)
    , m_file(preferencePath)
{
    read(true);
}

void AppSettings::read(bool initial)
{
    namespace key = preferenceKeys;
    const PreferenceFile& file = m_file;
    const bool tell = !initial;
    take(this, m_enabledCategories, readEnabledCategories(file),
         &AppSettings::enabledCategoriesChanged, tell);
    take(this, m_disabledFeedIDs, readDisabledFeedIDs(file), &AppSettings::disabledFeedIDsChanged,
         tell);
    take(this, m_maxHeadlines, file.integer(key::maxHeadlines).value_or(12),
         &AppSettings::maxHeadlinesChanged, tell);
    take(this, m_lookbackHours, file.integer(key::lookbackHours).value_or(24),
         &AppSettings::lookbackHoursChanged, tell);
    take(this, m_voiceIdentifier, file.string(key::voiceIdentifier).value_or(QString()),
         &AppSettings::voiceIdentifierChanged, tell);
    take(this, m_speechRate, file.number(key::speechRate).value_or(0.5),
         &AppSettings::speechRateChanged, tell);
    take(this, m_announceOnLaunch, file.boolean(key::announceOnLaunch).value_or(true),
         &AppSettings::announceOnLaunchChanged, tell);
    take(this, m_announceOnUnlock, file.boolean(key::announceOnUnlock).value_or(true),
         &AppSettings::announceOnUnlockChanged, tell);
    take(this, m_quietMinutes, file.integer(key::quietMinutes).value_or(30),
         &AppSettings::quietMinutesChanged, tell);
    take(this, m_holdWhenBusy, file.boolean(key::holdWhenBusy).value_or(true),
         &AppSettings::holdWhenBusyChanged, tell);
    take(this, m_backgroundRefreshMinutes, file.integer(key::backgroundRefreshMinutes).value_or(30),
         &AppSettings::backgroundRefreshMinutesChanged, tell);
    take(this, m_knownExploited, file.boolean(key::knownExploited).value_or(true),
         &AppSettings::knownExploitedChanged, tell);
    take(this, m_bubbleHidden, file.boolean(key::bubbleHidden).value_or(false),
         &AppSettings::bubbleHiddenChanged, tell);
    take(this, m_bubbleCompact, file.boolean(key::bubbleCompact).value_or(false),
         &AppSettings::bubbleCompactChanged, tell);
    take(this, m_isFirstRun, !file.boolean(key::isFirstRun).value_or(false),
         &AppSettings::isFirstRunChanged, tell);

    WatchTermsRead terms = readWatchTerms(file.value(key::watchTerms));
    m_watchTermsUnread = terms.unread;
    take(this, m_watchTerms, std::move(terms.terms), &AppSettings::watchTermsChanged, tell);
    OwnFeedsRead feeds = readOwnFeeds(file.value(key::ownFeeds), maxOwnFeeds);
    m_ownFeedsUnread = feeds.unread;
    take(this, m_ownFeeds, std::move(feeds.feeds), &AppSettings::ownFeedsChanged, tell);
    if (initial) {
        report(file, key::watchTerms, terms.problems);
        report(file, key::ownFeeds, feeds.problems);
    }
}

bool AppSettings::update(const std::function<void()>& change)
{
    if (!m_file.beginEdit())
        return false;
    read(false);
    change();
    m_file.endEdit();
    return true;
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
    m_file.setStringArray(preferenceKeys::enabledCategories, storedForm(m_enabledCategories));
}

void AppSettings::setDisabledFeedIDs(const QSet<QString>& ids)
{
    m_disabledFeedIDs = ids;
    emit disabledFeedIDsChanged(m_disabledFeedIDs);
    m_file.setStringArray(preferenceKeys::disabledFeeds, storedForm(m_disabledFeedIDs));
}

void AppSettings::setMaxHeadlines(qint64 count)
{
    m_maxHeadlines = count;
    emit maxHeadlinesChanged(m_maxHeadlines);
    m_file.setInteger(preferenceKeys::maxHeadlines, m_maxHeadlines);
}

void AppSettings::setLookbackHours(qint64 hours)
{
    m_lookbackHours = hours;
    emit lookbackHoursChanged(m_lookbackHours);
    m_file.setInteger(preferenceKeys::lookbackHours, m_lookbackHours);
}

void AppSettings::setVoiceIdentifier(const QString& identifier)
{
    m_voiceIdentifier = identifier;
    emit voiceIdentifierChanged(m_voiceIdentifier);
    m_file.setString(preferenceKeys::voiceIdentifier, m_voiceIdentifier);
}

void AppSettings::setSpeechRate(double rate)
{
    m_speechRate = rate;
    emit speechRateChanged(m_speechRate);
    m_file.setNumber(preferenceKeys::speechRate, m_speechRate);
}

void AppSettings::setAnnounceOnLaunch(bool on)
{
    m_announceOnLaunch = on;
    emit announceOnLaunchChanged(m_announceOnLaunch);
    m_file.setBoolean(preferenceKeys::announceOnLaunch, m_announceOnLaunch);
}

void AppSettings::setAnnounceOnUnlock(bool on)
{
    m_announceOnUnlock = on;
    emit announceOnUnlockChanged(m_announceOnUnlock);
    m_file.setBoolean(preferenceKeys::announceOnUnlock, m_announceOnUnlock);
}

void AppSettings::setHoldWhenBusy(bool on)
{
    m_holdWhenBusy = on;
    emit holdWhenBusyChanged(m_holdWhenBusy);
    m_file.setBoolean(preferenceKeys::holdWhenBusy, m_holdWhenBusy);
}

void AppSettings::setBackgroundRefreshMinutes(qint64 minutes)
{
    m_backgroundRefreshMinutes = minutes;
    emit backgroundRefreshMinutesChanged(m_backgroundRefreshMinutes);
    m_file.setInteger(preferenceKeys::backgroundRefreshMinutes, m_backgroundRefreshMinutes);
}

void AppSettings::setKnownExploited(bool on)
{
    m_knownExploited = on;
    emit knownExploitedChanged(m_knownExploited);
    m_file.setBoolean(preferenceKeys::knownExploited, m_knownExploited);
}

void AppSettings::setQuietMinutes(qint64 minutes)
{
    m_quietMinutes = minutes;
    emit quietMinutesChanged(m_quietMinutes);
    m_file.setInteger(preferenceKeys::quietMinutes, m_quietMinutes);
}

void AppSettings::setBubbleHidden(bool hidden)
{
    m_bubbleHidden = hidden;
    emit bubbleHiddenChanged(m_bubbleHidden);
    m_file.setBoolean(preferenceKeys::bubbleHidden, m_bubbleHidden);
}

void AppSettings::setBubbleCompact(bool compact)
{
    m_bubbleCompact = compact;
    emit bubbleCompactChanged(m_bubbleCompact);
    m_file.setBoolean(preferenceKeys::bubbleCompact, m_bubbleCompact);
}

void AppSettings::setIsFirstRun(bool firstRun)
{
    m_isFirstRun = firstRun;
    emit isFirstRunChanged(m_isFirstRun);
    m_file.setBoolean(preferenceKeys::isFirstRun, !m_isFirstRun);
}

void AppSettings::setWatchTerms(const QStringList& terms)
{
    m_watchTerms = terms;
    emit watchTermsChanged(m_watchTerms);
    QJsonArray stored = QJsonArray::fromStringList(m_watchTerms);
    for (const QJsonValue& unread : std::as_const(m_watchTermsUnread))
        stored.append(unread);
    m_file.setValue(preferenceKeys::watchTerms, stored);
}

void AppSettings::setOwnFeeds(const QList<OwnFeed>& feeds)
{
    m_ownFeeds = feeds;
    emit ownFeedsChanged(m_ownFeeds);
    QJsonArray stored = toJson(m_ownFeeds);
    for (const QJsonValue& unread : std::as_const(m_ownFeedsUnread))
        stored.append(unread);
    m_file.setValue(preferenceKeys::ownFeeds, stored);
}

std::optional<QPointF> AppSettings::savedBubbleOrigin() const
{
    if (!m_file.contains(preferenceKeys::bubbleFrameX))
        return std::nullopt;
    return QPointF(m_file.number(preferenceKeys::bubbleFrameX).value_or(0.0),
                   m_file.number(preferenceKeys::bubbleFrameY).value_or(0.0));
}

void AppSettings::setBubbleOrigin(std::optional<QPointF> origin)
{
    if (origin == savedBubbleOrigin())
        return;
    if (origin) {
        m_file.setNumberPair(preferenceKeys::bubbleFrameX, origin->x(),
                             preferenceKeys::bubbleFrameY, origin->y());
    } else {
        m_file.remove(preferenceKeys::bubbleFrameX);
        m_file.remove(preferenceKeys::bubbleFrameY);
    }
    emit bubbleOriginChanged();
}

QList<FeedSource> AppSettings::activeSources() const
{
    QList<FeedSource> sources;
    for (const FeedSource& source : FeedSource::catalog()) {
        if (m_enabledCategories.contains(source.category) && !m_disabledFeedIDs.contains(source.id))
            sources.append(source);
    }
    for (const OwnFeed& feed : m_ownFeeds) {
        if (feed.enabled && m_enabledCategories.contains(feed.category))
            sources.append(feed.source());
    }
    return sources;
}

} // namespace vardelle
