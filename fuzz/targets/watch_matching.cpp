// The watch list's matching against a plain reference written from its rule: a term matches a
// text when, both compared as folded (simple case folding, white space runs as one space, curly
// apostrophes and non-breaking hyphens as the plain ones), the term occurs in the text with no
// letter, digit or combining mark directly before or after it. The first matching term in list
// order wins. The input is the terms, one a line, then an empty line, then the text.
#include "FuzzTargets.h"

#include "news/WatchList.h"

namespace {

QList<char32_t> folded(QStringView text)
{
    QList<char32_t> out;
    bool space = false;
    for (const char32_t c : text.toUcs4()) {
        if (QChar::isSpace(c)) {
            space = true;
            continue;
        }
        if (space && !out.isEmpty())
            out.append(U' ');
        space = false;
        if (c == 0x2018 || c == 0x2019 || c == 0x02BC)
            out.append(U'\'');
        else if (c == 0x2010 || c == 0x2011)
            out.append(U'-');
        else
            out.append(QChar::toCaseFolded(c));
    }
    return out;
}

bool wordCharacter(char32_t c)
{
    return c != 0x02BC && (QChar::isLetterOrNumber(c) || QChar::isMark(c));
}

bool referenceMatch(const QList<char32_t>& text, const QList<char32_t>& term)
{
    if (term.isEmpty())
        return false;
    for (qsizetype at = 0; at + term.size() <= text.size(); ++at) {
        if (!std::equal(term.begin(), term.end(), text.begin() + at))
            continue;
        const bool before = at > 0 && wordCharacter(text[at - 1]);
        const bool after = at + term.size() < text.size() && wordCharacter(text[at + term.size()]);
        if (!before && !after)
            return true;
    }
    return false;
}

} // namespace

void vardelle::fuzz::watchMatching(QByteArrayView data)
{
    const QString input = QString::fromUtf8(data.toByteArray());
    const qsizetype split = input.indexOf(u"\n\n");
    if (split < 0)
        return;
    const QStringList terms = input.left(split).split(u'\n').mid(0, 8);
    const QString text = input.mid(split + 2);

    // The text's folded form, with the outer white space a term is compared without.
    const QList<char32_t> foldedText = folded(text);
    std::optional<QString> expected;
    for (const QString& term : terms) {
        if (referenceMatch(foldedText, folded(term.trimmed()))) {
            expected = term;
            break;
        }
    }
    FUZZ_CHECK(WatchList(terms).match(text) == expected);
}
