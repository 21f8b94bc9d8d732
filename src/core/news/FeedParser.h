#pragma once

#include "news/FeedSource.h"
#include "news/NewsItem.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>
#include <string>
#include <vector>

namespace vardelle {

class Clock;

// Turns one downloaded RSS or Atom document into headline items for one feed. It recognises
// element names only, never the document's root or version, so both formats go through the same
// logic. Malformed documents yield the items finished before the error; nothing is reported.
class FeedParser {
public:
    // `clock` dates the items that carry no readable date; it must outlive the parser.
    explicit FeedParser(FeedSource source, const Clock* clock = nullptr);

    // Parses the raw bytes of a response body. Never reads a file or the network.
    QList<NewsItem> parse(const QByteArray& document);

    const FeedSource& source() const { return m_source; }

    // After parse(): whether the document's root element is that of a feed (rss, RDF or Atom's
    // feed), and the feed's own title, cleaned (empty when it has none).
    bool isFeed() const { return m_isFeed; }
    const QString& feedTitle() const { return m_feedTitle; }

private:
    friend struct FeedParserHandlers;
    enum class Element : quint8;

    bool parseWith(QByteArrayView body, const char* encoding, class EncodingFallback* fallback);
    void linkAttributes(const char** attributes);
    bool wants(Element element) const; // whether the element's text would be used
    void endElement(Element element);
    void finishItem();

    FeedSource m_source;
    const Clock* m_clock;

    QList<NewsItem> m_items;
    std::string m_text; // character data since the last element start or end, as UTF-8
    std::optional<QString> m_currentTitle;
    std::optional<QString> m_currentLink;
    std::optional<QString> m_currentID;
    std::optional<Instant> m_currentDate;
    std::optional<QString> m_currentSummary;
    bool m_inItem = false;
    std::vector<Element> m_open; // the elements open at this point of the document
    bool m_collecting = false;   // whether character data is kept
    bool m_isFeed = false;
    QString m_feedTitle;
};

} // namespace vardelle
