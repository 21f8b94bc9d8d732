#pragma once

#include <QString>
#include <QStringView>

namespace vardelle {

// Feed text as it arrives in titles and summaries: markup that the feed escaped as text, a small
// table of HTML entities, and white space of every kind.

// Replaces every tag ("<" then one or more characters other than ">", then ">") by one space,
// then decodes the twenty entities of the table (&amp; &lt; &gt; &quot; &#39; &apos; &nbsp;
// &hellip; &mdash; &ndash; &rsquo; &lsquo; &ldquo; &rdquo; &#8217; &#8216; &#8220; &#8221;
// &#8211; &#8212;), with typographic quotes flattened to ASCII. No other entity is decoded, and
// decoding happens once: "&amp;lt;" becomes "&lt;".
QString stripMarkup(QStringView text);

// Every run of white space (the Unicode White_Space property) becomes one space; both ends are
// trimmed.
QString cleanText(QStringView text);

// Leading and trailing white space and line breaks removed.
QStringView trimmed(QStringView text);

// stripMarkup then cleanText, but reading only as much of a long text as it takes to know its
// first `graphemes` user-perceived characters exactly and whether there are more. Summaries of
// real feeds run to hundreds of kilobytes of escaped HTML of which only the opening is kept.
QString cleanMarkupPrefix(QStringView text, qsizetype graphemes);

// The number of user-perceived characters (extended grapheme clusters) in `text`, counting no
// further than `limit`; and the length in UTF-16 units of the first `count` of them.
qsizetype graphemeCount(QStringView text, qsizetype limit);
qsizetype graphemePrefixLength(QStringView text, qsizetype count);

} // namespace vardelle
