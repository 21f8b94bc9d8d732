#include "support/GroupingPairs.h"

#include <QRegularExpression>
#include <QStringList>

namespace vardelle::test {

QList<LabelledPair> readGroupingPairs(const QByteArray& document, Instant start)
{
    static const QRegularExpression storyLine(u"^(.+?) \\+(\\d+): (.+)$"_qs);
    const QStringList lines = QString::fromUtf8(document).split(u'\n');
    QList<LabelledPair> pairs;
    std::optional<LabelledPair> block;
    QList<NewsItem> stories;
    const auto close = [&] {
        if (block && stories.size() == 2) {
            block->first = stories[0];
            block->second = stories[1];
            pairs.append(*block);
        }
        block.reset();
        stories.clear();
    };
    for (const QString& line : lines) {
        if (line.startsWith(u'#'))
            continue;
        if (line == u"same" || line == u"different") {
            close();
            block = LabelledPair{line == u"same", {}, {}};
            continue;
        }
        if (!block)
            continue;
        if (line.startsWith(u"  ") && !stories.isEmpty()) {
            stories.last().summary = line.trimmed();
            continue;
        }
        const QRegularExpressionMatch match = storyLine.match(line);
        if (!match.hasMatch())
            continue;
        const qsizetype index = pairs.size();
        NewsItem item;
        item.id = u"pair%1-%2"_qs.arg(index).arg(stories.size());
        item.source = match.captured(1);
        item.title = match.captured(3);
        item.link = u"https://news.example/%1"_qs.arg(item.id);
        item.category =
            allNewsCategories[size_t(index + stories.size()) % allNewsCategories.size()];
        item.published =
            start + std::chrono::hours(index) + std::chrono::hours(match.captured(2).toInt());
        stories.append(item);
    }
    close();
    return pairs;
}

} // namespace vardelle::test
