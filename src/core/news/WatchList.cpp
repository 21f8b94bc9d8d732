#include "news/WatchList.h"

#include <QHashFunctions>

namespace vardelle {

namespace {

bool isWordCodePoint(char32_t c)
{
    if (c < 0x80)
        return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9');
    return QChar::isLetterOrNumber(c);
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

QString WatchList::comparable(QStringView text)
{
    QString out;
    out.reserve(text.size());
    bool space = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        char16_t c = text[i].unicode();
        if (c < 0x80) {
            if (c == u' ' || (c >= u'\t' && c <= u'\r')) {
                space = true;
                continue;
            }
            if (c >= u'A' && c <= u'Z')
                c = char16_t(c + (u'a' - u'A'));
        } else if (QChar::isSpace(c)) {
            space = true;
            continue;
        } else if (c == u'\u2018' || c == u'\u2019' || c == u'\u02BC') {
            c = u'\'';
        } else if (c == u'\u2010' || c == u'\u2011') {
            c = u'-';
        }
        if (space) {
            out.append(u' ');
            space = false;
        }
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            const char32_t folded = QChar::toCaseFolded(QChar::surrogateToUcs4(c, text[i + 1]));
            out.append(QChar::fromUcs4(folded));
            ++i;
        } else {
            out.append(QChar(c < 0x80 ? c : QChar::toCaseFolded(c)));
        }
    }
    if (space)
        out.append(u' ');
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
        if (wordCharAt(folded, 0))
            m_byFirstWord.insert(qHash(QStringView(folded).left(wordEnd(folded, 0))), index);
        else
            m_unanchored.append(index);
    }
}

void WatchList::find(const QString& folded, qsizetype& best) const
{
    const QStringView text(folded);
    for (qsizetype i = 0; i < text.size() && best != 0;) {
        if (!wordCharAt(text, i)) {
            ++i;
            continue;
        }
        const qsizetype end = wordEnd(text, i);
        const size_t key = qHash(text.mid(i, end - i));
        for (auto [it, last] = m_byFirstWord.equal_range(key); it != last; ++it) {
            const qsizetype index = *it;
            if (index < best && matchesAt(text, i, m_folded[index]))
                best = index;
        }
        i = end;
    }
    for (const qsizetype index : m_unanchored) {
        if (index >= best)
            break;
        const QString& term = m_folded[index];
        for (qsizetype at = text.indexOf(term); at >= 0; at = text.indexOf(term, at + 1)) {
            if (matchesAt(text, at, term)) {
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
    find(comparable(item.title), best);
    if (best != 0 && !item.summary.isEmpty())
        find(comparable(item.summary), best);
    if (best == m_terms.size())
        return std::nullopt;
    return m_terms[best];
}

std::optional<QString> WatchList::match(QStringView text) const
{
    if (m_terms.isEmpty())
        return std::nullopt;
    qsizetype best = m_terms.size();
    find(comparable(text), best);
    if (best == m_terms.size())
        return std::nullopt;
    return m_terms[best];
}

} // namespace vardelle
