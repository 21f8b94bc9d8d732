#include "news/FeedText.h"

#include <unicode/brkiter.h>
#include <unicode/uchar.h>
#include <unicode/utext.h>

#include <algorithm>
#include <memory>

namespace vardelle {

namespace {

// What a regular expression's \s matches: the Unicode White_Space property.
bool isSpace(char16_t c)
{
    if (c < 0x80)
        return c == u' ' || (c >= u'\t' && c <= u'\r');
    return u_isUWhiteSpace(c);
}

// White space and line breaks for trimming: the separators and U+0009..U+000D, U+0085.
bool isTrimmable(char16_t c)
{
    if (c < 0x80)
        return c == u' ' || (c >= u'\t' && c <= u'\r');
    if (c == 0x85)
        return true;
    const int8_t type = u_charType(c);
    return type == U_SPACE_SEPARATOR || type == U_LINE_SEPARATOR || type == U_PARAGRAPH_SEPARATOR;
}

struct Entity {
    QStringView key;
    QStringView value;
};

// Every key starts with "&" and ends with ";", and no value contains "&" except that of "&amp;".
// One left-to-right pass therefore gives the result of applying the keys one after another with
// "&amp;" last.
constexpr Entity entities[] = {
    {u"&amp;", u"&"},        {u"&lt;", u"<"},          {u"&gt;", u">"},
    {u"&quot;", u"\""},      {u"&#39;", u"'"},         {u"&apos;", u"'"},
    {u"&nbsp;", u" "},       {u"&hellip;", u"\u2026"}, {u"&mdash;", u"\u2014"},
    {u"&ndash;", u"\u2013"}, {u"&rsquo;", u"'"},       {u"&lsquo;", u"'"},
    {u"&ldquo;", u"\""},     {u"&rdquo;", u"\""},      {u"&#8217;", u"'"},
    {u"&#8216;", u"'"},      {u"&#8220;", u"\""},      {u"&#8221;", u"\""},
    {u"&#8211;", u"\u2013"}, {u"&#8212;", u"\u2014"},
};

void appendDecodingEntities(QString& out, QStringView text)
{
    qsizetype from = 0;
    for (qsizetype amp = text.indexOf(u'&'); amp >= 0; amp = text.indexOf(u'&', amp + 1)) {
        const QStringView rest = text.sliced(amp);
        for (const Entity& entity : entities) {
            if (rest.startsWith(entity.key)) {
                out += text.sliced(from, amp - from);
                out += entity.value;
                from = amp + entity.key.size();
                amp = from - 1;
                break;
            }
        }
    }
    out += text.sliced(from);
}

// A per-thread copy of one character (grapheme cluster) break iterator.
icu::BreakIterator* characterBreaks()
{
    static const std::unique_ptr<icu::BreakIterator> prototype = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::BreakIterator> it(
            icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
        return U_SUCCESS(status) ? std::move(it) : nullptr;
    }();
    thread_local const std::unique_ptr<icu::BreakIterator> local(prototype ? prototype->clone()
                                                                           : nullptr);
    return local.get();
}

// True when every cluster of `text` is one UTF-16 unit: no surrogate pairs, nothing that joins
// or combines (only characters whose cluster break class is Other or Control) and no CR LF.
bool isSimpleText(QStringView text)
{
    for (QChar c : text) {
        const char16_t u = c.unicode();
        if (u < 0x0300) {
            if (u == u'\r')
                return false;
            continue;
        }
        if (QChar::isSurrogate(u))
            return false;
        const int kind = u_getIntPropertyValue(u, UCHAR_GRAPHEME_CLUSTER_BREAK);
        if (kind != U_GCB_OTHER && kind != U_GCB_CONTROL)
            return false;
    }
    return true;
}

// Walks the cluster boundaries of `text`; returns the UTF-16 position after the `count`-th
// cluster, or -1 when there are fewer, with `found` set to the number walked.
qsizetype walkClusters(QStringView text, qsizetype count, qsizetype& found)
{
    found = 0;
    icu::BreakIterator* breaks = characterBreaks();
    UErrorCode status = U_ZERO_ERROR;
    UText ut = UTEXT_INITIALIZER;
    utext_openUChars(&ut, text.utf16(), text.size(), &status);
    if (!breaks || U_FAILURE(status)) {
        // Without ICU data, fall back on code units: never fewer characters than there are.
        found = std::min(count, text.size());
        return count <= text.size() ? count : -1;
    }
    breaks->setText(&ut, status);
    qsizetype position = 0; // after no cluster at all
    for (int32_t b = breaks->next(); b != icu::BreakIterator::DONE && found < count;
         b = breaks->next()) {
        ++found;
        position = b;
    }
    // The iterator keeps a pointer to the text; leave it on an empty one.
    breaks->setText(icu::UnicodeString());
    utext_close(&ut);
    return found == count ? position : -1;
}

// The longest entity of the table, "&hellip;".
constexpr qsizetype longestEntity = 8;

// Where a prefix of `text` no longer than `length` can end so that cleaning the prefix gives a
// prefix of what cleaning the whole text gives, up to its last character or two. White space
// cut at the end only changes the end. A tag still open at the cut would show its text from
// where it starts, and an entity cut in two would stay raw, so the prefix stops before either.
qsizetype safeCut(QStringView text, qsizetype length)
{
    qsizetype cut = length;
    if (cut > 0 && QChar::isHighSurrogate(text[cut - 1].unicode()))
        --cut;
    const qsizetype gt = text.first(cut).lastIndexOf(u'>');
    const qsizetype lt = text.first(cut).indexOf(u'<', gt + 1);
    if (lt >= 0)
        cut = lt;
    const qsizetype amp = text.first(cut).lastIndexOf(u'&');
    if (amp >= 0 && cut - amp < longestEntity && !text.sliced(amp, cut - amp).contains(u';'))
        cut = amp;
    return cut;
}

} // namespace

QString stripMarkup(QStringView text)
{
    QString withoutTags;
    QStringView source = text;
    if (text.contains(u'<')) {
        withoutTags.reserve(text.size());
        qsizetype i = 0;
        while (i < text.size()) {
            const qsizetype lt = text.indexOf(u'<', i);
            if (lt < 0)
                break;
            // A tag needs at least one character other than ">" before its ">".
            if (lt + 1 < text.size() && text[lt + 1] == u'>') {
                withoutTags += text.sliced(i, lt + 2 - i);
                i = lt + 2;
                continue;
            }
            const qsizetype gt = text.indexOf(u'>', lt + 1);
            if (gt < 0)
                break; // no ">" anywhere after: no more tags
            withoutTags += text.sliced(i, lt - i);
            withoutTags += u' ';
            i = gt + 1;
        }
        withoutTags += text.sliced(std::min(i, text.size()));
        source = withoutTags;
    }
    if (!source.contains(u'&'))
        return source.toString();
    QString out;
    out.reserve(source.size());
    appendDecodingEntities(out, source);
    return out;
}

QString cleanText(QStringView text)
{
    text = trimmed(text);
    QString out;
    out.reserve(text.size());
    // Copies the runs between white space whole; each run of white space becomes one space.
    qsizetype runStart = 0;
    for (qsizetype i = 0; i < text.size();) {
        if (!isSpace(text[i].unicode())) {
            ++i;
            continue;
        }
        out += text.sliced(runStart, i - runStart);
        while (i < text.size() && isSpace(text[i].unicode()))
            ++i;
        out += u' ';
        runStart = i;
    }
    out += text.sliced(runStart);
    return out;
}

QStringView trimmed(QStringView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isTrimmable(text[begin].unicode()))
        ++begin;
    while (end > begin && isTrimmable(text[end - 1].unicode()))
        --end;
    return text.sliced(begin, end - begin);
}

QString cleanMarkupPrefix(QStringView text, qsizetype graphemes)
{
    for (qsizetype slice = std::max<qsizetype>(8 * graphemes, 4096);; slice *= 4) {
        if (slice >= text.size())
            return cleanText(stripMarkup(text));
        QString cleaned = cleanText(stripMarkup(text.first(safeCut(text, slice))));
        // The last cluster may still grow with what follows the cut; every one before it holds.
        if (graphemeCount(cleaned, graphemes + 1) > graphemes)
            return cleaned;
    }
}

qsizetype graphemeCount(QStringView text, qsizetype limit)
{
    if (isSimpleText(text))
        return std::min(text.size(), limit);
    qsizetype found = 0;
    walkClusters(text, limit, found);
    return found;
}

qsizetype graphemePrefixLength(QStringView text, qsizetype count)
{
    if (isSimpleText(text))
        return std::min(text.size(), count);
    qsizetype found = 0;
    const qsizetype position = walkClusters(text, count, found);
    return position >= 0 ? position : text.size();
}

} // namespace vardelle
