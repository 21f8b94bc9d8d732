#include "briefing/SpeechText.h"

#include <unicode/brkiter.h>
#include <unicode/normalizer2.h>
#include <unicode/regex.h>
#include <unicode/uchar.h>
#include <unicode/uniset.h>
#include <unicode/unistr.h>
#include <unicode/utext.h>
#include <unicode/utf16.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <string>

// The steps run on one icu::UnicodeString that starts as a read-only alias
// of the caller's QString; a step that changes nothing copies nothing. Every regular-expression
// step first asks a cheap question whose "no" proves the pattern cannot match (a literal the
// pattern requires is absent), so a plain headline costs a few scans and, at most, one copy.
//
// Compiled patterns, the prototype break iterator and the symbol threshold are built once per
// process and never destroyed (matchers and iterator clones of threads that outlive static
// destruction still point at them). Matchers and break iterators are not thread-safe: each
// thread has its own, created on first use.

namespace vardelle {

namespace {

using icu::UnicodeString;

// ---------------------------------------------------------------------------------------------
// The regular-expression steps

enum RegexStep : int {
    Links,
    Cve,
    MoneyScaleWord,
    MoneyTrillion,
    MoneyBillion,
    MoneyMillion,
    MoneyThousand,
    MoneyPlain,
    WhiteSpaceRuns,
    SpaceBeforeMark,
    DoubledMark,
    RegexStepCount
};

struct RegexStepText {
    const char16_t* pattern;
    const char16_t* replacement;
    uint32_t flags;
};

// The patterns exactly, every backslash included (doubled here for C++).
constexpr std::array<RegexStepText, RegexStepCount> regexStepTexts{{
    {u"https?://\\S+", u"", 0},
    {u"\\bCVE[-\u2013]?(\\d{4})[-\u2013](\\d{4,7})\\b", u"C V E, $1, $2", UREGEX_CASE_INSENSITIVE},
    {u"\\$(\\d+(?:\\.\\d+)?)\\s+(trillion|billion|million|thousand)\\b", u"$1 $2 dollars",
     UREGEX_CASE_INSENSITIVE},
    {u"\\$(\\d+(?:\\.\\d+)?)\\s?[Tt]\\b", u"$1 trillion dollars", 0},
    {u"\\$(\\d+(?:\\.\\d+)?)\\s?[Bb]\\b", u"$1 billion dollars", 0},
    {u"\\$(\\d+(?:\\.\\d+)?)\\s?[Mm]\\b", u"$1 million dollars", 0},
    {u"\\$(\\d+(?:\\.\\d+)?)\\s?[Kk]\\b", u"$1 thousand dollars", 0},
    {u"\\$(\\d+(?:[.,]\\d+)*)", u"$1 dollars", 0},
    {u"\\s+", u" ", 0},
    {u"\\s+([,.!?])", u"$1", 0},
    {u"([,.])\\1+", u"$1", 0},
}};

struct Shared {
    std::array<icu::RegexPattern*, RegexStepCount> patterns{};
    std::array<UnicodeString, RegexStepCount> replacements;
    icu::BreakIterator* characters = nullptr; // prototype, cloned per thread
    const icu::Normalizer2* nfd = nullptr;
    // No code point below this one is dropped by the symbol filter.
    UChar32 firstSymbol = 0x2190;
};

const Shared& shared()
{
    static const Shared* const instance = [] {
        auto* s = new Shared;
        for (int i = 0; i < RegexStepCount; ++i) {
            UErrorCode status = U_ZERO_ERROR;
            UParseError parseError;
            const RegexStepText& step = regexStepTexts[size_t(i)];
            s->patterns[size_t(i)] = icu::RegexPattern::compile(
                UnicodeString(true, step.pattern, -1), step.flags, parseError, status);
            if (U_FAILURE(status)) { // the fixed patterns are valid; never happens
                delete s->patterns[size_t(i)];
                s->patterns[size_t(i)] = nullptr;
            }
            s->replacements[size_t(i)] = UnicodeString(true, step.replacement, -1);
        }
        UErrorCode status = U_ZERO_ERROR;
        s->characters = icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status);
        if (U_FAILURE(status)) {
            delete s->characters;
            s->characters = nullptr;
        }
        status = U_ZERO_ERROR;
        s->nfd = icu::Normalizer2::getNFDInstance(status);
        if (U_FAILURE(status))
            s->nfd = nullptr;
        status = U_ZERO_ERROR;
        icu::UnicodeSet pictures;
        pictures.applyIntPropertyValue(UCHAR_EMOJI_PRESENTATION, 1, status);
        if (U_SUCCESS(status) && pictures.getRangeCount() > 0)
            s->firstSymbol = std::min<UChar32>(s->firstSymbol, pictures.getRangeStart(0));
        else
            s->firstSymbol = 0; // test every code point
        return s;
    }();
    return *instance;
}

struct PerThread {
    std::array<std::unique_ptr<icu::RegexMatcher>, RegexStepCount> matchers;
    std::unique_ptr<icu::BreakIterator> characters;
    UText* text = nullptr;
    ~PerThread() { utext_close(text); }
};

PerThread& perThread()
{
    thread_local PerThread state;
    return state;
}

icu::RegexMatcher* matcher(RegexStep step)
{
    std::unique_ptr<icu::RegexMatcher>& m = perThread().matchers[size_t(step)];
    if (!m) {
        const icu::RegexPattern* pattern = shared().patterns[size_t(step)];
        if (!pattern)
            return nullptr;
        UErrorCode status = U_ZERO_ERROR;
        m.reset(pattern->matcher(status));
        if (U_FAILURE(status))
            m.reset();
    }
    return m.get();
}

// Replaces every non-overlapping match, left to right, in one pass. Leaves `text` alone and
// returns false when nothing matched (or, absurdly, the engine failed: the step is skipped).
bool replaceAll(RegexStep step, UnicodeString& text)
{
    icu::RegexMatcher* m = matcher(step);
    if (!m)
        return false;
    UErrorCode status = U_ZERO_ERROR;
    m->reset(text);
    if (!m->find(status) || U_FAILURE(status))
        return false;
    UnicodeString out(text.length() + 24, UChar32(0), 0); // capacity only
    const UnicodeString& replacement = shared().replacements[size_t(step)];
    do {
        m->appendReplacement(out, replacement, status);
    } while (U_SUCCESS(status) && m->find(status));
    m->appendTail(out);
    if (U_FAILURE(status)) {
        perThread().matchers[size_t(step)].reset(); // drop a matcher with a sticky error
        return false;
    }
    text = std::move(out);
    return true;
}

// ---------------------------------------------------------------------------------------------
// Cheap proofs that a step has nothing to do

// ICU's \s is exactly the White_Space property (all of it in the BMP).
inline bool isRegexSpace(char16_t c)
{
    return c == 0x20 || (c >= 0x09 && c <= 0x0D) || (c >= 0x80 && u_isUWhiteSpace(c));
}

inline bool isAsciiLetter(char16_t c, char lower)
{
    return (c | 0x20) == lower; // only the two ASCII cases of `lower` give it
}

// What the text contains that some step needs. A false answer proves that the step cannot
// change the text; a true one only lets the step try. Taken again after every step that changed
// the text, since a step can create what a later one needs (a link removed between two commas).
struct Features {
    bool scheme = false;          // links: every match contains "://"
    bool cve = false;             // CVE ids: "cve" in either case (no other code point folds to
                                  //    c, v or e in ICU's data) and a hyphen-minus or en dash
    bool dollar = false;          // amounts of money start with "$"
    bool mapped = false;          // a character the punctuation map may replace or drop
    bool foldableSpace = false;   // white space other than a lone U+0020
    bool spaceBeforeMark = false; // white space before , . ! or ?
    bool doubledMark = false;     // the same mark twice in a row
};

Features scan(const UnicodeString& text, UChar32 firstSymbol)
{
    const char16_t* p = text.getBuffer();
    const int32_t n = text.length();
    Features f;
    bool cveLetters = false;
    bool dash = false;
    for (int32_t i = 0; i < n; ++i) {
        const char16_t c = p[i];
        const char16_t next = i + 1 < n ? p[i + 1] : 0;
        if (c >= 0x80) {
            if (c == 0x2013)
                dash = true;
            if (c == 0x2013 || c == 0x2014 || c == 0x2026 || c >= firstSymbol)
                f.mapped = true;
            if (u_isUWhiteSpace(c))
                f.foldableSpace = true;
            continue;
        }
        switch (c) {
        case u' ':
            if (isRegexSpace(next))
                f.foldableSpace = true;
            else if (next == u',' || next == u'.' || next == u'!' || next == u'?')
                f.spaceBeforeMark = true;
            break;
        case 0x09:
        case 0x0A:
        case 0x0B:
        case 0x0C:
        case 0x0D:
            f.foldableSpace = true;
            break;
        case u'$':
            f.dollar = true;
            break;
        case u'-':
            dash = true;
            break;
        case u':':
            if (next == u'/' && i + 2 < n && p[i + 2] == u'/')
                f.scheme = true;
            break;
        case u'c':
        case u'C':
            if (isAsciiLetter(next, 'v') && i + 2 < n && isAsciiLetter(p[i + 2], 'e'))
                cveLetters = true;
            break;
        case u',':
        case u'.':
            if (next == c)
                f.doubledMark = true;
            break;
        case u'*':
        case u'_':
        case u'`':
        case u'#':
        case u'|':
        case u'&':
        case u'/':
        case u'"':
            f.mapped = true;
            break;
        default:
            break;
        }
    }
    f.cve = cveLetters && dash;
    return f;
}

// ---------------------------------------------------------------------------------------------
// The punctuation map: code point replacements

inline bool isDroppedSymbol(UChar32 c, UChar32 firstSymbol)
{
    if (c < firstSymbol)
        return false;
    return (u_hasBinaryProperty(c, UCHAR_EMOJI) &&
            u_hasBinaryProperty(c, UCHAR_EMOJI_PRESENTATION)) ||
           (c >= 0x2190 && c <= 0x2BFF) || (c >= 0xFE00 && c <= 0xFE0F);
}

// What the punctuation map makes of one code point. Its outputs (" ", " and ", ", ", ".") contain
// nothing that a later replacement touches, and the symbol filter neither drops nor produces
// any character the others touch, so applying them one after another equals this single map.
// Returns nullptr for "keep as it is".
inline const char16_t* punctuationReplacement(UChar32 c, UChar32 firstSymbol)
{
    switch (c) {
    case u'*':
    case u'_':
    case u'`':
    case u'#':
    case u'|': // markup marks
        return u" ";
    case u'&':
        return u" and ";
    case u'/':
        return u" ";
    case 0x2014: // em dash
    case 0x2013: // en dash
        return u", ";
    case 0x2026: // ellipsis
        return u".";
    case u'"':
        return u"";
    default:
        return isDroppedSymbol(c, firstSymbol) ? u"" : nullptr; // emoji and arrows
    }
}

// Applies `replacementOf` to every code point; copies nothing when nothing changes.
template <class Replacement>
bool mapCodePoints(const char16_t* p, int32_t n, UnicodeString& out, Replacement replacementOf)
{
    int32_t i = 0;
    int32_t kept = 0; // start of the run of unchanged code units not yet copied
    bool changed = false;
    while (i < n) {
        const int32_t start = i;
        UChar32 c;
        U16_NEXT(p, i, n, c);
        const char16_t* replacement = replacementOf(c);
        if (!replacement)
            continue;
        if (!changed) {
            out = UnicodeString(n + 16, UChar32(0), 0);
            changed = true;
        }
        out.append(p, kept, start - kept);
        out.append(replacement, 0, int32_t(std::char_traits<char16_t>::length(replacement)));
        kept = i;
    }
    if (changed)
        out.append(p, kept, n - kept);
    return changed;
}

// ---------------------------------------------------------------------------------------------
// The ends of the text

// The outer trim: Unicode Z* and U+0009..U+000D, U+0085 ("white space and line breaks").
inline bool isSpaceOrLineBreak(char16_t c)
{
    if (c == 0x20 || (c >= 0x09 && c <= 0x0D) || c == 0x85)
        return true;
    if (c < 0x80)
        return false;
    const int8_t type = u_charType(c);
    return type == U_SPACE_SEPARATOR || type == U_LINE_SEPARATOR || type == U_PARAGRAPH_SEPARATOR;
}

// The inner trim: Zs and U+0009 ("white space").
inline bool isSpace(char16_t c)
{
    return c == 0x20 || c == 0x09 || (c >= 0x80 && u_charType(c) == U_SPACE_SEPARATOR);
}

// The trailing marks that are cut, as bit sets over ASCII.
constexpr uint64_t bitsOf(std::initializer_list<char> marks)
{
    uint64_t bits = 0;
    for (char c : marks)
        bits |= uint64_t(1) << unsigned(c);
    return bits;
}
constexpr uint64_t trailingSeparators = bitsOf({',', ';', ':', '-'}); // every one
constexpr uint64_t terminalMarks = bitsOf({'.', '!', '?'});           // the last one

// Whether the code point is, as a character, one of `marks`. Characters compare by canonical
// equivalence, so U+037E GREEK QUESTION MARK (canonically U+003B) is a ";".
bool isMark(UChar32 c, uint64_t marks)
{
    if (c < 0x40)
        return (marks >> unsigned(c)) & 1;
    if (c < 0x80)
        return false;
    const icu::Normalizer2* nfd = shared().nfd;
    UnicodeString decomposition;
    if (!nfd || !nfd->getDecomposition(c, decomposition) || decomposition.length() != 1)
        return false;
    const char16_t d = decomposition.charAt(0);
    return d < 0x40 && ((marks >> unsigned(d)) & 1);
}

// Whether the last user-perceived character of p[begin, end) is a single code point that is
// one of `marks`; if so, returns its start in `charStart`. A mark followed by a combining mark,
// a joiner or the like is a different character; so is a mark after a prepended character.
bool endsWithMark(const char16_t* p, int32_t begin, int32_t end, uint64_t marks, int32_t& charStart)
{
    if (end <= begin)
        return false;
    int32_t i = end;
    UChar32 c;
    U16_PREV(p, begin, i, c);
    if (!isMark(c, marks))
        return false;
    charStart = i;
    // Between two ASCII characters there is always a character boundary, except in CR LF
    // (no mark is CR or LF).
    if (i == begin || (p[i - 1] < 0x80 && c < 0x80))
        return true;

    const Shared& s = shared();
    PerThread& state = perThread();
    if (!state.characters && s.characters)
        state.characters.reset(s.characters->clone());
    if (!state.characters) // no break data: compare code points
        return true;
    UErrorCode status = U_ZERO_ERROR;
    state.text = utext_openUChars(state.text, p + begin, end - begin, &status);
    if (U_FAILURE(status))
        return true;
    state.characters->setText(state.text, status);
    if (U_FAILURE(status))
        return true;
    const int32_t lastStart = state.characters->preceding(end - begin);
    return begin + lastStart == i;
}

int32_t toInt32Length(qsizetype size)
{
    // ICU strings hold at most INT32_MAX units; a longer "headline" is cut there.
    return int32_t(std::min<qsizetype>(size, INT32_MAX));
}

} // namespace

QString stripSymbols(const QString& text)
{
    const UChar32 firstSymbol = shared().firstSymbol;
    const auto* p = reinterpret_cast<const char16_t*>(text.utf16());
    UnicodeString out;
    const bool changed = mapCodePoints(p, toInt32Length(text.size()), out, [&](UChar32 c) {
        return isDroppedSymbol(c, firstSymbol) ? u"" : nullptr;
    });
    if (!changed)
        return text;
    return QString(reinterpret_cast<const QChar*>(out.getBuffer()), out.length());
}

QString cleanForSpeech(const QString& text)
{
    if (text.isEmpty())
        return QString();
    const Shared& s = shared();
    const auto* original = reinterpret_cast<const char16_t*>(text.utf16());
    const int32_t originalLength = toInt32Length(text.size());
    UnicodeString current(false, original, originalLength); // read-only alias, no copy

    Features f = scan(current, s.firstSymbol);
    if (f.scheme && replaceAll(Links, current))
        f = scan(current, s.firstSymbol);
    if (f.cve && replaceAll(Cve, current))
        f = scan(current, s.firstSymbol);
    if (f.dollar) { // each money pattern only removes dollar signs, so the answer stays true
        bool changed = false;
        for (RegexStep step :
             {MoneyScaleWord, MoneyTrillion, MoneyBillion, MoneyMillion, MoneyThousand, MoneyPlain})
            changed = replaceAll(step, current) || changed;
        if (changed)
            f = scan(current, s.firstSymbol);
    }
    if (f.mapped) {
        const UChar32 firstSymbol = s.firstSymbol;
        UnicodeString out;
        if (mapCodePoints(current.getBuffer(), current.length(), out,
                          [&](UChar32 c) { return punctuationReplacement(c, firstSymbol); })) {
            current = std::move(out);
            f = scan(current, s.firstSymbol);
        }
    }
    if (f.foldableSpace && replaceAll(WhiteSpaceRuns, current))
        f = scan(current, s.firstSymbol);
    if (f.spaceBeforeMark && replaceAll(SpaceBeforeMark, current))
        f = scan(current, s.firstSymbol);
    if (f.doubledMark)
        replaceAll(DoubledMark, current);

    const char16_t* p = current.getBuffer();
    int32_t begin = 0;
    int32_t end = current.length();
    while (begin < end && isSpaceOrLineBreak(p[begin])) // the outer trim
        ++begin;
    while (end > begin && isSpaceOrLineBreak(p[end - 1]))
        --end;
    int32_t markStart = 0;
    while (endsWithMark(p, begin, end, trailingSeparators, markStart)) // trailing separators
        end = markStart;
    if (endsWithMark(p, begin, end, terminalMarks, markStart)) // one terminal mark
        end = markStart;
    while (begin < end && isSpace(p[begin])) // the inner trim
        ++begin;
    while (end > begin && isSpace(p[end - 1]))
        --end;

    if (p == original) { // no step copied: share or slice the caller's string
        if (begin == 0 && end == text.size())
            return text;
        return text.sliced(begin, end - begin);
    }
    return QString(reinterpret_cast<const QChar*>(p + begin), end - begin);
}

} // namespace vardelle
