// One downloaded document for one catalogue feed: expat, the encoding fallbacks, the feed text
// cleaning and the dates, as a gather runs them.
#include "FuzzTargets.h"

#include "news/FeedParser.h"
#include "news/FeedText.h"

void vardelle::fuzz::feedParser(QByteArrayView data)
{
    FeedParser parser(FeedSource::catalog().front());
    const QList<NewsItem> items = parser.parse(data.toByteArray());
    for (const NewsItem& item : items) {
        FUZZ_CHECK(!item.title.isEmpty());
        FUZZ_CHECK(item.title == cleanText(item.title));
        FUZZ_CHECK(graphemeCount(item.title, 1002) <= 1001);
        FUZZ_CHECK(graphemeCount(item.summary, 402) <= 401);
    }
}
