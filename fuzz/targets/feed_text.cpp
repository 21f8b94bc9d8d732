// The cleaning of titles and summaries: markup, entities, white space and the summary's prefix.
#include "FuzzTargets.h"

#include "news/FeedText.h"

#include <QString>

void vardelle::fuzz::feedText(QByteArrayView data)
{
    if (data.isEmpty())
        return;
    // The first byte picks how many characters the prefix keeps, as summaries keep 401.
    const qsizetype keep = 1 + (static_cast<unsigned char>(data[0]) % 64) * 8;
    const QString text = QString::fromUtf8(data.sliced(1));

    const QString whole = cleanText(stripMarkup(text));
    const QString prefix = cleanMarkupPrefix(text, keep);
    // The prefix agrees with cleaning the whole text on every character it is sure of: all but
    // its last, which may still join with what follows.
    const qsizetype sure = graphemePrefixLength(whole, keep - 1);
    FUZZ_CHECK(prefix.startsWith(QStringView(whole).first(sure)));
    FUZZ_CHECK(graphemeCount(prefix, keep) >= std::min(graphemeCount(whole, keep), keep));
    FUZZ_CHECK(cleanText(whole) == whole);
}
