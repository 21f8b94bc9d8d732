// Dates as feeds write them, read by the ISO reader and ICU's pattern reader behind it.
#include "FuzzTargets.h"

#include "news/FeedDate.h"

#include <QString>

void vardelle::fuzz::feedDate(QByteArrayView data)
{
    const QString text = QString::fromUtf8(data);
    const std::optional<Instant> date = parseFeedDate(text);
    // The same text with white space around it reads the same.
    FUZZ_CHECK(parseFeedDate(u"  "_qs + text + u"\n"_qs) == date);
}
