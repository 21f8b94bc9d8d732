#include "news/StoryProfile.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace vardelle::storywords {

namespace {

// A link as compared: its scheme, any user and port, a "www." before the host, the fragment
// and trailing slashes left out; the host in lower case. Read by hand rather than by QUrl, which
// costs more than the rest of reading a story: a link with spaces or control characters, or
// without a scheme and host, compares as none.
QString comparableLink(const QString& link)
{
    const QStringView url = QStringView(link).trimmed();
    if (url.size() > 2048)
        return {};
    for (const QChar c : url) {
        if (c.unicode() <= u' ' || c.unicode() == 0x7f)
            return {};
    }
    const qsizetype schemeEnd = url.indexOf(u"://");
    if (schemeEnd <= 0 || !isAsciiLetter(url[0].unicode()))
        return {};
    for (const QChar c : url.first(schemeEnd)) {
        if (!isAsciiLetter(c.unicode()) && !isDigit(c.unicode()) && c != u'+' && c != u'-' &&
            c != u'.')
            return {};
    }
    const qsizetype authorityStart = schemeEnd + 3;
    qsizetype authorityEnd = authorityStart;
    while (authorityEnd < url.size() && url[authorityEnd] != u'/' && url[authorityEnd] != u'?' &&
           url[authorityEnd] != u'#')
        ++authorityEnd;
    QStringView host = url.mid(authorityStart, authorityEnd - authorityStart);
    if (const qsizetype at = host.lastIndexOf(u'@'); at >= 0)
        host = host.mid(at + 1);
    if (host.startsWith(u'[')) {
        const qsizetype close = host.indexOf(u']');
        if (close < 0)
            return {};
        host = host.first(close + 1);
    } else if (const qsizetype colon = host.indexOf(u':'); colon >= 0) {
        host = host.first(colon);
    }
    if (host.startsWith(u"www.", Qt::CaseInsensitive))
        host = host.mid(4);
    if (host.isEmpty())
        return {};

    qsizetype pathEnd = authorityEnd;
    while (pathEnd < url.size() && url[pathEnd] != u'?' && url[pathEnd] != u'#')
        ++pathEnd;
    QStringView path = url.mid(authorityEnd, pathEnd - authorityEnd);
    while (path.endsWith(u'/'))
        path.chop(1);
    QStringView query;
    if (pathEnd < url.size() && url[pathEnd] == u'?') {
        const qsizetype fragment = url.indexOf(u'#', pathEnd);
        query = url.mid(pathEnd, (fragment < 0 ? url.size() : fragment) - pathEnd);
    }
    QString comparable = host.toString().toLower();
    comparable.reserve(comparable.size() + path.size() + query.size());
    comparable.append(path).append(query);
    return comparable;
}

double scaleFactor(QChar scale)
{
    switch (scale.unicode()) {
    case u'k':
        return 1e3;
    case u'm':
        return 1e6;
    case u'b':
        return 1e9;
    default:
        return 1e12;
    }
}

// A large figure as reports round it: its first two digits with a scale, so that "437,329",
// "437,000" and "437 thousand" are one figure, "2,318,457" is "2.3 million", and "$1.2 billion"
// is "$1,200 million".
QString roundFigure(double value)
{
    if (!(value >= 1e4) || value >= 1e18)
        return QString::number(value, 'g', 6);
    const double digits = std::floor(std::log10(value)) + 1;
    const double step = std::pow(10.0, digits - 2);
    const double rounded = std::floor(value / step + 1e-6) * step;
    const char16_t scale = rounded >= 1e12  ? u't'
                           : rounded >= 1e9 ? u'b'
                           : rounded >= 1e6 ? u'm'
                                            : u'k';
    return QString::number(rounded / scaleFactor(scale), 'g', 6) + scale;
}

// Reads the distinctive words of a story's title or summary into `profile`.
class TextReader {
public:
    TextReader(Vocabulary& vocabulary, Profile& profile, int story)
        : m_vocabulary(vocabulary)
        , m_profile(profile)
        , m_story(story)
    {
    }

    void read(QStringView text, bool title)
    {
        // A title in title case ("Clorox Sues Cognizant") shows no names by its capitals, except
        // for words with capitals inside them or in capitals throughout.
        const bool titleCase = title && isTitleCase(text);
        bool sentenceStart = true;
        m_title = title;
        m_word = 0;
        m_startName = -1;
        const qsizetype n = text.size();
        for (qsizetype i = 0; i < n;) {
            const QChar c = text[i];
            if (!isWordChar(c)) {
                if (c == u'.' || c == u'!' || c == u'?' || c == u':' || c == u';')
                    sentenceStart = true;
                ++i;
                continue;
            }
            qsizetype end = i;
            while (end < n && (isWordChar(text[end]) ||
                               // "AT&T", "M&S"; "1,500", "5.4"; "Cognizant's"
                               ((text[end] == u'&' || text[end] == u',' || text[end] == u'.' ||
                                 text[end] == u'\'' || text[end] == u'\u2019') &&
                                end + 1 < n && isWordChar(text[end + 1]) && end > i &&
                                joins(text[end], text[end - 1], text[end + 1]))))
                ++end;
            end = word(text, i, end, titleCase, sentenceStart);
            sentenceStart = false;
            ++m_word;
            i = end;
        }
    }

private:
    static bool joins(QChar mark, QChar before, QChar after)
    {
        if (mark == u'&')
            return isLetter(before) && isLetter(after);
        if (mark == u',' || mark == u'.')
            return isDigit(before.unicode()) && isDigit(after.unicode());
        return isLetter(before) && isLetter(after); // an apostrophe
    }

    static bool isTitleCase(QStringView text)
    {
        int words = 0;
        int capitalised = 0;
        for (qsizetype i = 0; i < text.size();) {
            if (!isLetter(text[i])) {
                ++i;
                continue;
            }
            qsizetype end = i;
            while (end < text.size() && isLetter(text[end]))
                ++end;
            if (end - i >= 4) {
                ++words;
                capitalised += text[i].isUpper();
            }
            i = end;
        }
        return words >= 3 && capitalised * 10 >= words * 7;
    }

    // Takes the word at [from, end) (and what follows it, for a CVE id or an amount's scale);
    // returns where reading goes on.
    qsizetype word(QStringView text, qsizetype from, qsizetype end, bool titleCase,
                   bool sentenceStart)
    {
        const QStringView run = text.mid(from, end - from);
        if (run.size() == 3 && (run[0].unicode() | 0x20) == u'c' &&
            (run[1].unicode() | 0x20) == u'v' && (run[2].unicode() | 0x20) == u'e')
            return cve(text, end);

        bool digits = false;
        bool letters = false;
        for (const QChar c : run) {
            if (isDigit(c.unicode()))
                digits = true;
            else if (isLetter(c))
                letters = true;
        }
        if (digits)
            return number(text, from, end, letters);

        // Letters: a possessive goes; capitals tell whether it is written as a name.
        QStringView bare = run;
        if (bare.size() > 2 && (bare.endsWith(u"'s") || bare.endsWith(u"\u2019s")))
            bare.chop(2);
        const bool capital = bare[0].isUpper();
        const int startName = std::exchange(m_startName, -1);
        const int token = m_vocabulary.internWritten(bare);
        if (token < 0)
            return end;
        if (m_vocabulary.info(token).kind == Kind::common)
            return end;
        bool innerCapital = false;
        bool innerLower = false;
        for (qsizetype k = 1; k < bare.size(); ++k) {
            innerCapital |= bare[k].isUpper();
            innerLower |= bare[k].isLower();
        }
        const bool shapedAsName = (capital && innerCapital) || (!capital && innerCapital) ||
                                  (capital && !innerLower && bare.size() >= 2);
        count(token);
        TokenInfo& info = m_vocabulary.info(token);
        if (shapedAsName || (capital && !sentenceStart && !titleCase)) {
            info.named = true;
            // A name of several words that starts a sentence ("Ingram Micro said").
            if (startName >= 0 && capital)
                m_vocabulary.info(startName).named = true;
        } else if (!capital && !innerCapital && !titleCase) {
            info.lowercase = true;
        } else if (capital && sentenceStart && !titleCase) {
            info.opening = true;
            m_startName = token;
        }
        return end;
    }

    qsizetype cve(QStringView text, qsizetype at)
    {
        // CVE-2024-3400, with hyphens or en dashes.
        const auto dash = [&](qsizetype i) {
            return i < text.size() && (text[i] == u'-' || text[i] == u'\u2013');
        };
        const auto digitsFrom = [&](qsizetype i) {
            qsizetype end = i;
            while (end < text.size() && isDigit(text[end].unicode()))
                ++end;
            return end - i;
        };
        if (!dash(at) || digitsFrom(at + 1) != 4 || !dash(at + 5))
            return at;
        const qsizetype sequence = digitsFrom(at + 6);
        if (sequence < 4 || sequence > 7)
            return at;
        const QString id = u"cve-"_qs + text.mid(at + 1, 4).toString() + u'-' +
                           text.mid(at + 6, sequence).toString();
        const int token = add(id, Kind::cve);
        if (std::find(m_profile.cves.begin(), m_profile.cves.end(), token) == m_profile.cves.end())
            m_profile.cves.push_back(token);
        return at + 6 + sequence;
    }

    qsizetype number(QStringView text, qsizetype from, qsizetype end, bool letters)
    {
        const QStringView run = text.mid(from, end - from);
        qsizetype digitEnd = 0;
        while (digitEnd < run.size() &&
               (isDigit(run[digitEnd].unicode()) || run[digitEnd] == u',' || run[digitEnd] == u'.'))
            ++digitEnd;
        QString value;
        for (const QChar c : run.left(digitEnd)) {
            if (c != u',')
                value.append(c);
        }
        const QStringView suffix = run.mid(digitEnd);
        const QChar before = from > 0 ? text[from - 1] : QChar();
        const bool currency = before == u'$' || before == u'\u00A3' || before == u'\u20AC';
        // A sum of money is another figure than a count of the same digits ("fined $4.5
        // million", "4.5 million subscribers").
        const QString money = currency ? QString(before) : QString();

        // The scale, attached ("$380M", "1.2bn") or as the next word ("$380 Million").
        QChar scale;
        qsizetype next = end;
        if (letters) {
            const QString lower = suffix.toString().toLower();
            if (digitEnd > 0 && (lower == u"m" || lower == u"mn"))
                scale = u'm';
            else if (digitEnd > 0 && (lower == u"b" || lower == u"bn"))
                scale = u'b';
            else if (digitEnd > 0 && currency && (lower == u"k" || lower == u"t"))
                scale = lower[0];
            else {
                // Letters with digits: a name of its own ("APT35", "Log4j", "NoName057").
                add(run.toString().toLower(), Kind::code);
                return end;
            }
        } else {
            qsizetype w = end;
            while (w < text.size() && text[w] == u' ')
                ++w;
            qsizetype wEnd = w;
            while (wEnd < text.size() && isLetter(text[wEnd]))
                ++wEnd;
            const QStringView scaleWord = text.mid(w, wEnd - w);
            if (scaleWord.compare(u"million", Qt::CaseInsensitive) == 0)
                scale = u'm';
            else if (scaleWord.compare(u"billion", Qt::CaseInsensitive) == 0)
                scale = u'b';
            else if (scaleWord.compare(u"thousand", Qt::CaseInsensitive) == 0)
                scale = u'k';
            else if (scaleWord.compare(u"trillion", Qt::CaseInsensitive) == 0)
                scale = u't';
            if (!scale.isNull())
                next = wEnd;
        }
        while (value.endsWith(u'.'))
            value.chop(1);
        if (value.isEmpty())
            return next;
        if (!scale.isNull()) {
            add(money + roundFigure(value.toDouble() * scaleFactor(scale)), Kind::amount);
            return next;
        }
        // A bare number: a year, or a count, model or version; single digits say little.
        bool isInt = true;
        for (const QChar c : value)
            isInt &= isDigit(c.unicode());
        const bool year =
            isInt && value.size() == 4 &&
            ((value.startsWith(u"20") && value[2] <= u'3') || value.startsWith(u"199"));
        if (year)
            add(value, Kind::year);
        else if (isInt && value.size() >= 5)
            add(money + roundFigure(value.toDouble()), currency ? Kind::amount : Kind::number);
        else if (!(isInt && value.size() == 1))
            add(money + value, currency ? Kind::amount : Kind::number);
        return next;
    }

    int add(const QString& text, Kind kind)
    {
        const int token = m_vocabulary.intern(text, kind);
        TokenInfo& info = m_vocabulary.info(token);
        if (kind == Kind::amount && info.kind == Kind::number)
            info.kind = Kind::amount;
        count(token);
        return token;
    }

    // One more use of `token` by the story being read: the first is marked, with its place in
    // the title (the title is read first) and in the summary. CVE ids are kept apart.
    void count(int token)
    {
        TokenInfo& info = m_vocabulary.info(token);
        if (info.lastStory != m_story) {
            info.lastStory = m_story;
            ++info.stories;
            if (info.kind == Kind::cve)
                return;
            info.lastMark = int(m_profile.marks.size());
            m_profile.marks.push_back({token, m_title ? m_word : -1, m_title ? -1 : m_word});
            return;
        }
        if (info.kind == Kind::cve || m_title)
            return;
        Mark& mark = m_profile.marks[size_t(info.lastMark)];
        if (mark.summaryWord < 0)
            mark.summaryWord = m_word;
    }

    Vocabulary& m_vocabulary;
    Profile& m_profile;
    int m_story;
    bool m_title = false; // whether the text being read is the title
    int m_word = 0;       // the place of the word being read among the text's words
    int m_startName = -1; // the capitalised word that started the sentence, just before
};

} // namespace

Profile profileOf(const NewsItem& item, Vocabulary& vocabulary, int story)
{
    Profile profile;
    profile.link = comparableLink(item.link);
    TextReader reader(vocabulary, profile, story);
    // Bounded: a feed's title or summary is short; a hostile one is read no further than this.
    reader.read(QStringView(item.title).left(1000), true);
    reader.read(QStringView(item.summary).left(2000), false);
    std::sort(profile.marks.begin(), profile.marks.end(),
              [](const Mark& x, const Mark& y) { return x.token < y.token; });
    std::sort(profile.cves.begin(), profile.cves.end());
    return profile;
}

} // namespace vardelle::storywords
