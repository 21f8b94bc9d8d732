#include "library/Opml.h"

#include "news/XmlEncoding.h"

#include <QXmlStreamWriter>

#include <expat.h>

#include <cstring>
#include <vector>

namespace vardelle {

namespace {

std::optional<NewsCategory> categoryNamed(const QString& text)
{
    const QString wanted = text.trimmed();
    if (wanted.isEmpty())
        return std::nullopt;
    for (NewsCategory category : allNewsCategories) {
        if (wanted.compare(identifier(category), Qt::CaseInsensitive) == 0 ||
            wanted.compare(title(category), Qt::CaseInsensitive) == 0)
            return category;
    }
    return std::nullopt;
}

struct OpmlReader {
    bool rootSeen = false;
    bool isOpml = false;
    // For each open element: the category an outline names, if it is one that does.
    std::vector<std::optional<NewsCategory>> open;
    QList<OpmlEntry> entries;

    static void XMLCALL start(void* data, const XML_Char* name, const XML_Char** attributes)
    {
        auto* reader = static_cast<OpmlReader*>(data);
        const char* colon = std::strrchr(name, ':');
        const char* local = colon ? colon + 1 : name;
        if (!reader->rootSeen) {
            reader->rootSeen = true;
            reader->isOpml = std::strcmp(local, "opml") == 0;
        }
        if (std::strcmp(local, "outline") != 0) {
            reader->open.push_back(std::nullopt);
            return;
        }
        QString text;
        QString title;
        std::optional<QString> xmlUrl;
        for (const XML_Char** a = attributes; a[0]; a += 2) {
            if (std::strcmp(a[0], "text") == 0)
                text = QString::fromUtf8(a[1]);
            else if (std::strcmp(a[0], "title") == 0)
                title = QString::fromUtf8(a[1]);
            else if (std::strcmp(a[0], "xmlUrl") == 0)
                xmlUrl = QString::fromUtf8(a[1]);
        }
        if (xmlUrl) {
            std::optional<NewsCategory> category;
            for (auto it = reader->open.rbegin(); it != reader->open.rend() && !category; ++it)
                category = *it;
            const QString name = !title.trimmed().isEmpty() ? title.trimmed() : text.trimmed();
            reader->entries.append({xmlUrl->trimmed(), name, category});
            reader->open.push_back(std::nullopt);
            return;
        }
        std::optional<NewsCategory> named = categoryNamed(text);
        if (!named)
            named = categoryNamed(title);
        reader->open.push_back(named);
    }

    static void XMLCALL end(void* data, const XML_Char*)
    {
        auto* reader = static_cast<OpmlReader*>(data);
        if (!reader->open.empty())
            reader->open.pop_back();
    }
};

} // namespace

std::optional<QList<OpmlEntry>> readOpml(const QByteArray& document)
{
    OpmlReader reader;
    XML_Parser parser = XML_ParserCreate(nullptr);
    if (!parser)
        return std::nullopt;
    XML_SetUserData(parser, &reader);
    XML_SetElementHandler(parser, OpmlReader::start, OpmlReader::end);
    // No external entity handler: external entities and the external DTD subset are never read.
    XML_SetParamEntityParsing(parser, XML_PARAM_ENTITY_PARSING_NEVER);
    const bool complete = parseWhole(parser, document);
    XML_ParserFree(parser);
    if (!complete || !reader.isOpml)
        return std::nullopt;
    return reader.entries;
}

QByteArray writeOpml(const QList<FeedSource>& feeds)
{
    QByteArray out;
    QXmlStreamWriter xml(&out);
    xml.setAutoFormatting(true);
    xml.setAutoFormattingIndent(2);
    xml.writeStartDocument();
    xml.writeStartElement(QStringLiteral("opml"));
    xml.writeAttribute(QStringLiteral("version"), QStringLiteral("2.0"));
    xml.writeStartElement(QStringLiteral("head"));
    xml.writeTextElement(QStringLiteral("title"), QStringLiteral("Vardelle feeds"));
    xml.writeEndElement();
    xml.writeStartElement(QStringLiteral("body"));
    for (NewsCategory category : allNewsCategories) {
        xml.writeStartElement(QStringLiteral("outline"));
        xml.writeAttribute(QStringLiteral("text"), identifier(category));
        xml.writeAttribute(QStringLiteral("title"), title(category));
        for (const FeedSource& feed : feeds) {
            if (feed.category != category)
                continue;
            xml.writeEmptyElement(QStringLiteral("outline"));
            xml.writeAttribute(QStringLiteral("type"), QStringLiteral("rss"));
            xml.writeAttribute(QStringLiteral("text"), feed.name);
            xml.writeAttribute(QStringLiteral("title"), feed.name);
            xml.writeAttribute(QStringLiteral("xmlUrl"), feed.url.toString(QUrl::RemovePassword));
        }
        xml.writeEndElement();
    }
    xml.writeEndElement();
    xml.writeEndElement();
    xml.writeEndDocument();
    return out;
}

} // namespace vardelle
