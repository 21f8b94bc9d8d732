#include "news/FeedParser.h"

#include "news/FeedDate.h"
#include "news/FeedText.h"
#include "news/XmlEncoding.h"
#include "time/Clock.h"

#include <QStringDecoder>

#include <expat.h>

#include <cstring>

namespace vardelle {

// The elements the parser acts on, by local name.
enum class FeedParser::Element : quint8 { other, item, title, link, id, date, summary };

namespace {

// The name without its namespace prefix. Prefixes are removed by hand rather than by expat's
// namespace processing, which rejects a whole document for one undeclared prefix.
const char* localNameOf(const char* name)
{
    const char* colon = std::strrchr(name, ':');
    return colon ? colon + 1 : name;
}

bool isNamespaceDeclaration(const char* name)
{
    return std::strncmp(name, "xmlns", 5) == 0 && (name[5] == '\0' || name[5] == ':');
}

// A summary keeps its first 400 characters, and an ellipsis when there were more; a title its
// first 1,000 (longer than any real title, short enough that no document makes a briefing of
// megabytes through entities).
constexpr qsizetype summaryLength = 400;
constexpr qsizetype titleLength = 1000;

// The text cut after its first `length` characters, with an ellipsis, when it has more.
QString limited(QString text, qsizetype length)
{
    if (graphemeCount(text, length + 1) > length) {
        text.truncate(graphemePrefixLength(text, length));
        text += u'\u2026';
    }
    return text;
}

// UTF-8 to UTF-16 keeping a leading U+FEFF, which is text of the element (QString::fromUtf8
// takes it for a byte-order mark and drops it).
QString decodeUtf8(const char* data, qsizetype size)
{
    if (size < 3 || std::memcmp(data, "\xEF\xBB\xBF", 3) != 0)
        return QString::fromUtf8(data, size);
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
    return decoder(QByteArrayView(data, size));
}

} // namespace

struct FeedParserHandlers {
    using Element = FeedParser::Element;

    static Element elementOf(const char* localName)
    {
        switch (localName[0]) {
        case 'c':
            return std::strcmp(localName, "content") == 0 ? Element::summary : Element::other;
        case 'd':
            if (std::strcmp(localName, "date") == 0)
                return Element::date;
            return std::strcmp(localName, "description") == 0 ? Element::summary : Element::other;
        case 'e':
            if (std::strcmp(localName, "entry") == 0)
                return Element::item;
            return std::strcmp(localName, "encoded") == 0 ? Element::summary : Element::other;
        case 'g':
            return std::strcmp(localName, "guid") == 0 ? Element::id : Element::other;
        case 'i':
            if (std::strcmp(localName, "item") == 0)
                return Element::item;
            return std::strcmp(localName, "id") == 0 ? Element::id : Element::other;
        case 'l':
            return std::strcmp(localName, "link") == 0 ? Element::link : Element::other;
        case 'p':
            if (std::strcmp(localName, "pubDate") == 0 || std::strcmp(localName, "published") == 0)
                return Element::date;
            return Element::other;
        case 's':
            return std::strcmp(localName, "summary") == 0 ? Element::summary : Element::other;
        case 't':
            return std::strcmp(localName, "title") == 0 ? Element::title : Element::other;
        case 'u':
            return std::strcmp(localName, "updated") == 0 ? Element::date : Element::other;
        default:
            return Element::other;
        }
    }

    static void XMLCALL start(void* data, const XML_Char* name, const XML_Char** attributes)
    {
        auto* parser = static_cast<FeedParser*>(data);
        parser->m_text.clear();
        const char* const localName = localNameOf(name);
        if (parser->m_open.empty()) {
            parser->m_isFeed = std::strcmp(localName, "rss") == 0 ||
                               std::strcmp(localName, "RDF") == 0 ||
                               std::strcmp(localName, "feed") == 0;
        }
        const Element element = elementOf(localName);
        switch (element) {
        case Element::item:
            parser->m_inItem = true;
            parser->m_currentTitle.reset();
            parser->m_currentLink.reset();
            parser->m_currentID.reset();
            parser->m_currentDate.reset();
            parser->m_currentSummary.reset();
            break;
        case Element::link:
            if (parser->m_inItem && !parser->m_currentLink)
                parser->linkAttributes(attributes);
            break;
        default:
            break;
        }
        parser->m_open.push_back(element);
        parser->m_collecting = parser->wants(element);
    }

    static void XMLCALL end(void* data, const XML_Char* name)
    {
        auto* parser = static_cast<FeedParser*>(data);
        const bool collected = parser->m_collecting;
        if (!parser->m_open.empty())
            parser->m_open.pop_back();
        const Element element = elementOf(localNameOf(name));
        if (parser->m_inItem)
            parser->endElement(element);
        else if (element == Element::title && collected)
            parser->m_feedTitle = cleanText(stripMarkup(trimmed(
                QString::fromUtf8(parser->m_text.data(), qsizetype(parser->m_text.size())))));
        parser->m_text.clear();
        // Text after a child's end belongs to the element around it.
        parser->m_collecting = !parser->m_open.empty() && parser->wants(parser->m_open.back());
    }

    static void XMLCALL text(void* data, const XML_Char* chars, int length)
    {
        auto* parser = static_cast<FeedParser*>(data);
        if (parser->m_collecting)
            parser->m_text.append(chars, length);
    }
};

FeedParser::FeedParser(FeedSource source, const Clock* clock)
    : m_source(std::move(source))
    , m_clock(clock ? clock : &Clock::system())
{
}

QList<NewsItem> FeedParser::parse(const QByteArray& document)
{
    m_items.clear();
    m_text.clear();
    m_inItem = false;

    const QByteArrayView body = skipJunkBeforeDeclaration(document);
    EncodingFallback fallback;
    if (!parseWith(body, nullptr, &fallback) && fallback.needsConversion()) {
        // Declared in an encoding expat cannot stream: convert the whole document and read it
        // again as UTF-8. The declaration comes first, so nothing was read before it failed.
        const QByteArray utf8 = fallback.toUtf8(body);
        if (!utf8.isNull())
            parseWith(utf8, "UTF-8", nullptr);
    }
    return m_items;
}

bool FeedParser::parseWith(QByteArrayView body, const char* encoding, EncodingFallback* fallback)
{
    m_items.clear();
    m_text.clear();
    m_open.clear();
    m_collecting = false;
    m_inItem = false;
    m_isFeed = false;
    m_feedTitle.clear();

    XML_Parser parser = XML_ParserCreate(encoding);
    if (!parser)
        return false;
    XML_SetUserData(parser, this);
    XML_SetElementHandler(parser, FeedParserHandlers::start, FeedParserHandlers::end);
    XML_SetCharacterDataHandler(parser, FeedParserHandlers::text);
    // No external entity handler: external entities and the external DTD subset are never read.
    XML_SetParamEntityParsing(parser, XML_PARAM_ENTITY_PARSING_NEVER);
    if (fallback)
        XML_SetUnknownEncodingHandler(parser, EncodingFallback::handler, fallback);

    const bool complete = parseWhole(parser, body);
    XML_ParserFree(parser);
    return complete;
}

void FeedParser::linkAttributes(const char** attributes)
{
    const char* href = nullptr;
    const char* rel = nullptr;
    bool any = false;
    for (const char** a = attributes; a[0]; a += 2) {
        if (isNamespaceDeclaration(a[0]))
            continue;
        any = true;
        const char* local = localNameOf(a[0]);
        if (std::strcmp(local, "href") == 0)
            href = a[1];
        else if (std::strcmp(local, "rel") == 0)
            rel = a[1];
    }
    if (!any || !href)
        return;
    if (rel && std::strcmp(rel, "alternate") != 0)
        return; // an enclosure, the feed itself, comments and the like
    m_currentLink = decodeUtf8(href, qsizetype(std::strlen(href)));
}

bool FeedParser::wants(Element element) const
{
    if (!m_inItem) {
        // Outside an item only the feed's own title is used: the first title directly inside
        // the channel (RSS) or the feed (Atom), not an image's.
        return element == Element::title && m_feedTitle.isEmpty() && m_open.size() <= 3 && m_isFeed;
    }
    switch (element) {
    case Element::title:
        return !m_currentTitle;
    case Element::link:
        return !m_currentLink;
    case Element::id:
        return !m_currentID;
    case Element::date:
        return !m_currentDate;
    case Element::summary:
        return !m_currentSummary || m_currentSummary->isEmpty();
    default:
        return false;
    }
}

void FeedParser::endElement(Element element)
{
    switch (element) {
    case Element::other:
        return;
    case Element::item:
        m_inItem = false;
        finishItem();
        return;
    default:
        break;
    }

    if (!wants(element))
        return;
    const QString decoded = decodeUtf8(m_text.data(), qsizetype(m_text.size()));
    const QStringView text = trimmed(decoded);
    switch (element) {
    case Element::title:
        if (!m_currentTitle)
            m_currentTitle = cleanMarkupPrefix(text, titleLength + 1);
        break;
    case Element::link:
        if (!m_currentLink && !text.isEmpty())
            m_currentLink = text.toString();
        break;
    case Element::id:
        // An empty id is no id: it would make every such story one story.
        if (!m_currentID && !text.isEmpty())
            m_currentID = text.toString();
        break;
    case Element::date:
        if (!m_currentDate)
            m_currentDate = parseFeedDate(text);
        break;
    case Element::summary:
        if (!m_currentSummary || m_currentSummary->isEmpty())
            m_currentSummary = cleanMarkupPrefix(text, summaryLength + 1);
        break;
    default:
        break;
    }
}

void FeedParser::finishItem()
{
    if (!m_currentTitle)
        return;
    const QString title = limited(cleanText(*m_currentTitle), titleLength);
    if (title.isEmpty())
        return;

    NewsItem item;
    item.title = title;
    item.link = m_currentLink.value_or(QString());
    if (m_currentID)
        item.id = *m_currentID;
    else if (!item.link.isEmpty())
        item.id = item.link;
    else
        item.id = m_source.id + u'|' + title;

    item.summary =
        limited(m_currentSummary ? cleanText(*m_currentSummary) : QString(), summaryLength);
    item.published = m_currentDate ? *m_currentDate : m_clock->now();
    item.source = m_source.name;
    item.category = m_source.category;
    m_items.append(std::move(item));
}

} // namespace vardelle
