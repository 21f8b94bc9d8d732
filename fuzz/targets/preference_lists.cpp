// The two lists of preferences.json that users edit by hand, the watch terms and the own feeds,
// read entry by entry within the limits, written back, and read again the same.
#include "FuzzTargets.h"

#include "news/FeedText.h"
#include "settings/AppSettings.h"
#include "settings/PreferenceFile.h"

#include <QSet>

namespace {

bool holdsControlOrReordering(const QString& name)
{
    for (const QChar c : name) {
        const char16_t u = c.unicode();
        if (c.category() == QChar::Other_Control || u == 0x061C || u == 0x200E || u == 0x200F ||
            (u >= 0x202A && u <= 0x202E) || (u >= 0x2066 && u <= 0x2069))
            return true;
    }
    return false;
}

} // namespace

void vardelle::fuzz::preferenceLists(QByteArrayView data)
{
    const std::optional<QJsonObject> object = PreferenceFile::decode(data.toByteArray());
    if (!object)
        return;
    const QJsonValue storedTerms = object->value(preferenceKeys::watchTerms);
    const QJsonValue storedFeeds = object->value(preferenceKeys::ownFeeds);

    const WatchTermsRead terms = readWatchTerms(storedTerms);
    FUZZ_CHECK(terms.terms.size() <= AppSettings::maxWatchTerms);
    for (const QString& term : terms.terms)
        FUZZ_CHECK(AppSettings::isValidWatchTerm(term));
    const OwnFeedsRead feeds = readOwnFeeds(storedFeeds, AppSettings::maxOwnFeeds);
    FUZZ_CHECK(feeds.feeds.size() <= AppSettings::maxOwnFeeds);
    QSet<QString> ids;
    for (const OwnFeed& feed : feeds.feeds) {
        FUZZ_CHECK(!feed.id.isEmpty() && !ids.contains(feed.id) && !FeedSource::find(feed.id));
        ids.insert(feed.id);
        FUZZ_CHECK(isFeedAddress(feed.url));
        FUZZ_CHECK(graphemeCount(feed.name, maxFeedNameLength + 1) <= maxFeedNameLength);
        FUZZ_CHECK(feed.name == feed.name.trimmed() && !holdsControlOrReordering(feed.name));
    }

    // Nothing is lost: every element of an array is in use or kept.
    if (storedTerms.isArray())
        FUZZ_CHECK(terms.terms.size() + terms.unread.size() == storedTerms.toArray().size());
    if (storedFeeds.isArray())
        FUZZ_CHECK(feeds.feeds.size() + feeds.unread.size() == storedFeeds.toArray().size());

    // Written back as the preferences write them, the lists read again the same.
    QJsonArray termsAgain = QJsonArray::fromStringList(terms.terms);
    for (const QJsonValue& unread : terms.unread)
        termsAgain.append(unread);
    QJsonArray feedsAgain = toJson(feeds.feeds);
    for (const QJsonValue& unread : feeds.unread)
        feedsAgain.append(unread);
    const WatchTermsRead termsRead = readWatchTerms(termsAgain);
    FUZZ_CHECK(termsRead.terms == terms.terms && termsRead.unread == terms.unread);
    const OwnFeedsRead feedsRead = readOwnFeeds(feedsAgain, AppSettings::maxOwnFeeds);
    FUZZ_CHECK(feedsRead.feeds == feeds.feeds && feedsRead.unread == feeds.unread);
}
