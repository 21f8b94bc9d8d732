#include "news/WatchList.h"

#include <QHashFunctions>

#include <algorithm>

namespace vardelle {

namespace {

char16_t asciiLower(char16_t c)
{
    return c >= u'A' && c <= u'Z' ? char16_t(c + (u'a' - u'A')) : c;
}

// Letters, digits and the marks that combine with them: "Ivanti" ends where "Ivanti's" has its
// apostrophe, but not inside "Ivantí" written with a combining accent. The modifier letter
// apostrophe (U+02BC) is an apostrophe here, as in the compared form. Marks count whether or not
// they are case folded: U+0345 folds to a Greek letter, and is a word character either way.
bool isWordCodePoint(char32_t c)
{
    if (c < 0x80)
        return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9');
    return c != 0x02BC && (QChar::isLetterOrNumber(c) || QChar::isMark(c));
}

// Whether the character that ends just before `index` is a letter or digit.
bool wordCharBefore(QStringView text, qsizetype index)
{
    if (index <= 0)
        return false;
    const QChar last = text[index - 1];
    if (last.isLowSurrogate() && index >= 2 && text[index - 2].isHighSurrogate())
        return isWordCodePoint(QChar::surrogateToUcs4(text[index - 2], last));
    return isWordCodePoint(last.unicode());
}

// Whether the character that starts at `index` is a letter or digit.
bool wordCharAt(QStringView text, qsizetype index)
{
    if (index >= text.size())
        return false;
    const QChar first = text[index];
    if (first.unicode() < 0x80)
        return isWordCodePoint(first.unicode());
    if (first.isHighSurrogate() && index + 1 < text.size() && text[index + 1].isLowSurrogate())
        return isWordCodePoint(QChar::surrogateToUcs4(first, text[index + 1]));
    return isWordCodePoint(first.unicode());
}

// The end of the run of letters and digits that starts at `index`.
qsizetype wordEnd(QStringView text, qsizetype index)
{
    while (wordCharAt(text, index))
        index += text[index].isHighSurrogate() && index + 1 < text.size() ? 2 : 1;
    return index;
}

bool matchesAt(QStringView text, qsizetype index, QStringView term)
{
    return text.size() - index >= term.size() && text.mid(index, term.size()) == term &&
           !wordCharBefore(text, index) && !wordCharAt(text, index + term.size());
}

} // namespace

size_t WatchList::foldedWordHash(QStringView word)
{
    // A word holds no white space, so folding it is a unit for a unit, on the stack for the
    // common short word.
    char16_t buffer[64];
    if (word.size() > qsizetype(std::size(buffer)))
        return qHash(comparable(word));
    for (qsizetype i = 0; i < word.size(); ++i) {
        const char16_t c = word[i].unicode();
        if (c >= 0x80)
            return qHash(comparable(word));
        buffer[i] = asciiLower(c);
    }
    return qHash(QStringView(buffer, word.size()));
}

QString WatchList::comparable(QStringView text)
{
    // Never longer than the text: folding keeps the length of each character, and white space
    // only shrinks.
    QString out(text.size(), Qt::Uninitialized);
    char16_t* to = reinterpret_cast<char16_t*>(out.data());
    const char16_t* const start = to;
    bool space = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        char16_t c = text[i].unicode();
        if (c < 0x80) {
            if (c == u' ' || (c >= u'\t' && c <= u'\r')) {
                space = true;
                continue;
            }
            c = asciiLower(c);
        } else if (QChar::isSpace(c)) {
            space = true;
            continue;
        } else if (c == u'\u2018' || c == u'\u2019' || c == u'\u02BC') {
            c = u'\'';
        } else if (c == u'\u2010' || c == u'\u2011') {
            c = u'-';
        } else if (QChar::isHighSurrogate(c) && i + 1 < text.size() &&
                   text[i + 1].isLowSurrogate()) {
            const char32_t folded = QChar::toCaseFolded(QChar::surrogateToUcs4(c, text[i + 1]));
            ++i;
            if (space) {
                *to++ = u' ';
                space = false;
            }
            if (QChar::requiresSurrogates(folded)) {
                *to++ = QChar::highSurrogate(folded);
                *to++ = QChar::lowSurrogate(folded);
            } else {
                *to++ = char16_t(folded);
            }
            continue;
        } else {
            c = QChar::toCaseFolded(c);
        }
        if (space) {
            *to++ = u' ';
            space = false;
        }
        *to++ = c;
    }
    if (space)
        *to++ = u' ';
    out.truncate(to - start);
    return out;
}

WatchList::WatchList(const QStringList& terms)
{
    for (const QString& term : terms) {
        const QString folded = comparable(term).trimmed();
        if (folded.isEmpty())
            continue;
        const qsizetype index = m_terms.size();
        m_terms.append(term);
        m_folded.append(folded);
        // Enough of a text to fold for this term even where white space runs long.
        m_window = std::max(m_window, 4 * folded.size() + 16);
        if (wordCharAt(folded, 0)) {
            m_byFirstWord.insert(qHash(QStringView(folded).left(wordEnd(folded, 0))), index);
            m_firstUnits.set(folded[0].unicode());
        } else
            m_unanchored.append(index);
    }
}

void WatchList::find(QStringView text, qsizetype& best) const
{
    // Word starts are the same in the text as typed and as compared (case folding keeps letters
    // letters), so the text is walked as it is, and only a word that may start a term is
    // folded, with what follows it.
    for (qsizetype i = 0; i < text.size() && best != 0;) {
        if (!wordCharAt(text, i)) {
            ++i;
            continue;
        }
        const qsizetype end = wordEnd(text, i);
        const char16_t first = text[i].unicode();
        const char16_t folded = first < 0x80                ? asciiLower(first)
                                : QChar::isSurrogate(first) ? char16_t(0)
                                                            : QChar::toCaseFolded(first);
        // Most words start with a character no term starts with: no need to look them up.
        if (folded != 0 && !m_firstUnits.test(folded)) {
            i = end;
            continue;
        }
        const auto [from, last] = m_byFirstWord.equal_range(foldedWordHash(text.mid(i, end - i)));
        if (from != last) {
            const QStringView rest = text.mid(i);
            QString window = comparable(rest.left(m_window));
            for (auto it = from; it != last; ++it) {
                const qsizetype index = *it;
                const QString& term = m_folded[index];
                if (index >= best)
                    continue;
                // The window holds the term and the character after it, or the whole rest.
                if (window.size() < term.size() + 2 && rest.size() > m_window)
                    window = comparable(rest);
                if (window.startsWith(term) && !wordCharAt(window, term.size()))
                    best = index;
            }
        }
        i = end;
    }
    if (m_unanchored.isEmpty() || m_unanchored.first() >= best)
        return;
    const QString whole = comparable(text);
    for (const qsizetype index : m_unanchored) {
        if (index >= best)
            break;
        const QString& term = m_folded[index];
        for (qsizetype at = whole.indexOf(term); at >= 0; at = whole.indexOf(term, at + 1)) {
            if (matchesAt(whole, at, term)) {
                best = index;
                break;
            }
        }
    }
}

std::optional<QString> WatchList::match(const NewsItem& item) const
{
    if (m_terms.isEmpty())
        return std::nullopt;
    qsizetype best = m_terms.size();
    find(item.title, best);
    if (best != 0 && !item.summary.isEmpty())
        find(item.summary, best);
    if (best == m_terms.size())
        return std::nullopt;
    return m_terms[best];
}

std::optional<QString> WatchList::match(QStringView text) const
{
    if (m_terms.isEmpty())
        return std::nullopt;
    qsizetype best = m_terms.size();
    find(text, best);
    if (best == m_terms.size())
        return std::nullopt;
    return m_terms[best];
}

} // namespace vardelle
