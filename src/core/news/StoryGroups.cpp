#include "news/StoryGroups.h"

#include "news/StoryWords.h"

#include <QHash>
#include <QSet>
#include <QUrl>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <vector>

namespace vardelle {

namespace {

using namespace storywords;

// What a word of a story is, for how much it says about the event.
enum class Kind : quint8 {
    common, // a common word of English or of security news: says nothing
    word,   // letters only
    broad,  // a name found in too many stories to tell events apart ("Microsoft", "Chrome")
    number, // digits: a count, model or version ("SMA 100", "269,000")
    code,   // letters with digits, a name of its own ("APT35", "Log4j", "Pwn2Own")
    amount, // a number with a scale or a currency ("$380M", "5.4 million")
    year,   // 1990 to 2039
    cve,    // a CVE id
};

// One distinctive word of a story.
struct Mark {
    int token = 0;
    int titleWord = -1; // where it first comes in the title, counting every word; -1 if not
};

// What the whole set of stories shows of one word.
struct TokenInfo {
    Kind kind = Kind::word;
    int stories = 0;        // how many stories use it
    bool named = false;     // written as a name somewhere: capitalised inside a sentence, or
                            // with capitals inside it ("SonicWall"), or in capitals ("SMA")
    bool lowercase = false; // written in lower case inside a sentence somewhere
    bool opening = false;   // capitalised at the start of a sentence in sentence case
    int lastStory = -1;     // the last story counted in `stories`
};

struct Profile {
    std::vector<Mark> marks; // by token, each once
    std::vector<int> cves;   // tokens of the CVE ids it names, sorted
    QString link;            // comparable form; empty when none
};

// The words of all stories, numbered.
class Vocabulary {
public:
    int intern(const QString& text, Kind kind)
    {
        const auto it = m_ids.constFind(text);
        if (it != m_ids.constEnd())
            return *it;
        const int id = int(m_infos.size());
        m_ids.insert(text, id);
        m_infos.push_back(TokenInfo{kind});
        return id;
    }
    // A word of letters, in its folded form: common, broad or a plain word, told the first
    // time it is seen.
    int internWord(const QString& folded)
    {
        const auto it = m_ids.constFind(folded);
        if (it != m_ids.constEnd())
            return *it;
        return intern(folded, isCommonWord(folded)  ? Kind::common
                              : isBroadName(folded) ? Kind::broad
                                                    : Kind::word);
    }
    TokenInfo& info(int token) { return m_infos[size_t(token)]; }
    const TokenInfo& info(int token) const { return m_infos[size_t(token)]; }
    int size() const { return int(m_infos.size()); }

private:
    QHash<QString, int> m_ids;
    std::vector<TokenInfo> m_infos;
};

// A link as compared: its scheme, a "www." before the host, the fragment and trailing slashes
// left out.
QString comparableLink(const QString& link)
{
    if (link.size() > 2048)
        return {};
    const QUrl url(link.trimmed(), QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty())
        return {};
    QString host = url.host().toLower();
    if (host.startsWith(u"www."))
        host.remove(0, 4);
    QString path = url.path();
    while (path.endsWith(u'/'))
        path.chop(1);
    return host + path + (url.hasQuery() ? u'?' + url.query() : QString());
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
        if (run.compare(u"CVE", Qt::CaseInsensitive) == 0)
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
        const QString folded = foldWord(bare);
        const bool capital = bare[0].isUpper();
        const int startName = std::exchange(m_startName, -1);
        if (folded.size() < 2)
            return end;
        const int token = m_vocabulary.internWord(folded);
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
            add(value + scale, Kind::amount);
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
        else if (!(isInt && value.size() == 1))
            add(value, currency ? Kind::amount : Kind::number);
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

    // One more use of `token` by the story being read.
    void count(int token)
    {
        TokenInfo& info = m_vocabulary.info(token);
        if (info.lastStory != m_story) {
            info.lastStory = m_story;
            ++info.stories;
        }
        m_added.push_back({token, m_word});
    }

public:
    // The tokens read since the last call.
    // The tokens read since the last call, with the place of the word each came from.
    std::vector<std::pair<int, int>> take() { return std::exchange(m_added, {}); }

private:
    Vocabulary& m_vocabulary;
    Profile& m_profile;
    int m_story;
    std::vector<std::pair<int, int>> m_added;
    int m_word = 0;       // the place of the word being read among the text's words
    int m_startName = -1; // the capitalised word that started the sentence, just before
};

Profile profileOf(const NewsItem& item, Vocabulary& vocabulary, int story)
{
    Profile profile;
    profile.link = comparableLink(item.link);
    TextReader reader(vocabulary, profile, story);
    // Bounded: a feed's title or summary is short; a hostile one is read no further than this.
    reader.read(QStringView(item.title).left(1000), true);
    std::vector<std::pair<int, int>> title = reader.take();
    reader.read(QStringView(item.summary).left(2000), false);
    std::vector<std::pair<int, int>> summary = reader.take();
    // Each token once, with its first place in the title, if it is there.
    for (auto& entry : summary)
        entry.second = -1;
    std::vector<std::pair<int, int>> all = std::move(title);
    all.insert(all.end(), summary.begin(), summary.end());
    std::sort(all.begin(), all.end(), [](const auto& a, const auto& b) {
        if (a.first != b.first)
            return a.first < b.first;
        if ((a.second < 0) != (b.second < 0))
            return b.second < 0;
        return a.second < b.second;
    });
    profile.marks.reserve(all.size());
    for (const auto& [token, place] : all) {
        if (!profile.marks.empty() && profile.marks.back().token == token)
            continue;
        if (vocabulary.info(token).kind == Kind::cve)
            continue;
        profile.marks.push_back({token, place});
    }
    std::sort(profile.cves.begin(), profile.cves.end());
    return profile;
}

// Weighs the words of a set of stories and compares two of them.
class EventMatcher {
public:
    EventMatcher(const QList<NewsItem>& items, const std::vector<Profile>& profiles,
                 const Vocabulary& vocabulary)
        : m_items(items)
        , m_profiles(profiles)
        , m_vocabulary(vocabulary)
    {
        // A word in more stories than this counts for less, the more stories use it.
        m_crowd = std::max(3.0, std::ceil(0.01 * double(items.size())));
        m_weights.reserve(size_t(vocabulary.size()));
        for (int token = 0; token < vocabulary.size(); ++token)
            m_weights.push_back(weighed(token));
    }

    // How much a word says about the event, from 0.
    double weight(int token) const { return m_weights[size_t(token)]; }

    // Whether a word may on its own make two stories worth comparing.
    bool canBeStrong(int token) const { return weight(token) >= strong; }

private:
    double weighed(int token) const
    {
        const TokenInfo& info = m_vocabulary.info(token);
        double base = 0;
        switch (info.kind) {
        case Kind::common:
            break;
        case Kind::word:
            // A word only ever seen capitalised, if only at the start of sentences ("Qantas
            // says"), is likely a name too.
            base = info.named       ? (info.lowercase ? 0.5 : 1.0)
                   : info.lowercase ? 0.35
                   : info.opening   ? strong
                                    : 0.35;
            break;
        case Kind::broad:
            base = 0.5;
            break;
        case Kind::number:
        case Kind::code:
            base = 1.0;
            break;
        case Kind::amount:
            base = 1.25;
            break;
        case Kind::year:
            base = 0.25;
            break;
        case Kind::cve:
            base = 1.5;
            break;
        }
        if (info.stories > m_crowd)
            base *= std::sqrt(m_crowd / double(info.stories));
        return base;
    }

public:
    bool sameEvent(int a, int b) const
    {
        const Profile& pa = m_profiles[size_t(a)];
        const Profile& pb = m_profiles[size_t(b)];
        if (!pa.link.isEmpty() && pa.link == pb.link)
            return true;
        const auto apart = m_items[a].published - m_items[b].published;
        if (apart > sameEventSpan || -apart > sameEventSpan)
            return false;
        if (!pa.cves.empty() && !pb.cves.empty()) {
            std::vector<int> shared;
            std::set_intersection(pa.cves.begin(), pa.cves.end(), pb.cves.begin(), pb.cves.end(),
                                  std::back_inserter(shared));
            if (shared.empty())
                return false; // about different vulnerabilities
            const size_t all = pa.cves.size() + pb.cves.size() - shared.size();
            if (2 * shared.size() >= all)
                return true;
        }

        double score = 0;
        int strongCount = 0;    // strong words in common, a name of several words counted once
        bool elsewhere = false; // strong words in common outside the titles (counted as one)
        int strongInTitles = 0;
        int plainInTitles = 0; // other words in both titles ("earnings", "outage")
        int namesElsewhere = 0;
        bool sharedNumber = false;
        std::vector<int> titlePlaces; // of the strong words in both titles, in the first title
        auto ia = pa.marks.begin();
        auto ib = pb.marks.begin();
        while (ia != pa.marks.end() && ib != pb.marks.end()) {
            if (ia->token < ib->token) {
                ++ia;
                continue;
            }
            if (ib->token < ia->token) {
                ++ib;
                continue;
            }
            const bool bothTitles = ia->titleWord >= 0 && ib->titleWord >= 0;
            const bool oneTitle = ia->titleWord >= 0 || ib->titleWord >= 0;
            const double w = weight(ia->token) * (bothTitles ? 1.0 : oneTitle ? 0.8 : 0.5);
            score += w;
            if (bothTitles && w > 0 && w < strong)
                plainInTitles += m_vocabulary.info(ia->token).kind == Kind::word;
            // Names that both summaries give, outside the titles ("Identity Services Engine").
            if (!oneTitle && weight(ia->token) >= 1.0 &&
                m_vocabulary.info(ia->token).kind == Kind::word)
                ++namesElsewhere;
            if (w >= strong) {
                const Kind kind = m_vocabulary.info(ia->token).kind;
                sharedNumber |= kind == Kind::number || kind == Kind::amount;
                if (bothTitles) {
                    ++strongInTitles;
                    titlePlaces.push_back(ia->titleWord);
                } else {
                    elsewhere = true;
                }
            }
            ++ia;
            ++ib;
        }
        if (strongInTitles == 0)
            return false;
        // Strong words elsewhere count once; names that only the summaries share, two or
        // more of them, once more, three or more, twice.
        strongCount += int(elsewhere) + (namesElsewhere >= 3 ? 2 : namesElsewhere >= 2 ? 1 : 0);
        // Words side by side in the title make one name ("Palo Alto", "Scattered Spider").
        std::sort(titlePlaces.begin(), titlePlaces.end());
        size_t longestName = 0;
        for (size_t i = 0, run = 0; i < titlePlaces.size(); ++i) {
            const bool next = i > 0 && titlePlaces[i] == titlePlaces[i - 1] + 1;
            strongCount += !next;
            run = next ? run + 1 : 1;
            longestName = std::max(longestName, run);
        }
        if (score < 2.0)
            return false;
        // One name alone is not yet one event: a number in common and more words besides, or a
        // name of several words and another word of both titles make it one.
        // Two names alone may be a vendor and its product in two different stories: a number,
        // a third name or a plain word of both titles as well make them one.
        // A name of three words or more in both titles ("Nova Scotia Power") is one too.
        return strongCount >= 3 || (strongCount == 2 && (sharedNumber || plainInTitles >= 1)) ||
               (sharedNumber && score >= 2.2) ||
               (longestName >= 2 && plainInTitles >= 1 && score >= 2.3) ||
               (longestName >= 3 && score >= 2.5);
    }

    static constexpr double strong = 0.6;

private:
    const QList<NewsItem>& m_items;
    const std::vector<Profile>& m_profiles;
    const Vocabulary& m_vocabulary;
    double m_crowd = 3;
    std::vector<double> m_weights; // by token
};

} // namespace

QStringList StoryGroup::otherSources() const
{
    QStringList sources;
    for (qsizetype i = 1; i < stories.size(); ++i)
        sources.append(stories[i].source);
    return sources;
}

QList<StoryGroup> groupStories(const QList<NewsItem>& items)
{
    const qsizetype n = items.size();
    Vocabulary vocabulary;
    std::vector<Profile> profiles;
    profiles.reserve(size_t(n));
    for (qsizetype i = 0; i < n; ++i)
        profiles.push_back(profileOf(items[i], vocabulary, int(i)));
    const EventMatcher matcher(items, profiles, vocabulary);

    // Earliest first, so that a group's first story is its earliest.
    std::vector<int> order(static_cast<size_t>(n));
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&](int a, int b) { return items[a].published < items[b].published; });

    // The stories placed so far by each word that can join two stories, and by link.
    QHash<int, std::vector<int>> byToken;      // CVE ids
    QHash<int, std::vector<int>> byTitleToken; // strong words of titles
    QHash<QString, std::vector<int>> byLink;
    std::vector<int> groupOf(static_cast<size_t>(n), -1);
    std::vector<std::vector<int>> members;
    // The story whose candidates were last listed, by story.
    std::vector<int> seenBy(static_cast<size_t>(n), -1);
    std::vector<int> matches; // per group, for the story being placed
    std::vector<int> touched; // the groups with a count in `matches`

    // Feeds by number, each group's feeds, and what stands between a story being placed and a
    // group: a group it cannot join, or has matched half of already, need not be looked at again.
    QHash<QString, int> feedNumbers;
    std::vector<int> feedOf(static_cast<size_t>(n));
    for (qsizetype i = 0; i < n; ++i) {
        auto it = feedNumbers.constFind(items[i].source);
        if (it == feedNumbers.constEnd())
            it = feedNumbers.insert(items[i].source, int(feedNumbers.size()));
        feedOf[size_t(i)] = *it;
    }
    std::vector<std::vector<int>> groupFeeds;
    std::vector<int> settledFor; // per group: the story for which nothing more is to be learnt

    for (const int story : order) {
        const Profile& profile = profiles[size_t(story)];
        const Instant published = items[story].published;
        std::vector<int> candidates;
        const auto consider = [&](const std::vector<int>& earlier) {
            for (const int other : earlier) {
                if (seenBy[size_t(other)] == story)
                    continue;
                seenBy[size_t(other)] = story;
                candidates.push_back(other);
            }
        };
        if (!profile.link.isEmpty()) {
            if (const auto it = byLink.constFind(profile.link); it != byLink.constEnd())
                consider(*it);
        }
        for (const int token : profile.cves) {
            if (const auto it = byToken.constFind(token); it != byToken.constEnd())
                consider(*it);
        }
        // Words join two stories only with a strong word in both titles: only those are looked
        // up.
        for (const Mark& mark : profile.marks) {
            if (mark.titleWord < 0 || !matcher.canBeStrong(mark.token))
                continue;
            if (const auto it = byTitleToken.constFind(mark.token); it != byTitleToken.constEnd())
                consider(*it);
        }

        for (const int other : candidates) {
            const int group = groupOf[size_t(other)];
            if (settledFor[size_t(group)] == story)
                continue;
            const std::vector<int>& inGroup = members[size_t(group)];
            const std::vector<int>& feeds = groupFeeds[size_t(group)];
            // Never two stories of one feed, and all within the span of the group's earliest
            // (or of the same link).
            const bool linked =
                !profile.link.isEmpty() && profiles[size_t(other)].link == profile.link;
            if (std::find(feeds.begin(), feeds.end(), feedOf[size_t(story)]) != feeds.end() ||
                (!linked && published - items[inGroup.front()].published > sameEventSpan)) {
                if (!linked)
                    settledFor[size_t(group)] = story;
                continue;
            }
            if (!matcher.sameEvent(story, other))
                continue;
            if (matches[size_t(group)]++ == 0)
                touched.push_back(group);
            if (2 * matches[size_t(group)] >= int(inGroup.size()))
                settledFor[size_t(group)] = story;
        }
        // The group it matches most of (at least half), the first found of equals.
        int chosen = -1;
        for (const int group : touched) {
            const int count = matches[size_t(group)];
            if (2 * count < int(members[size_t(group)].size()))
                continue;
            if (std::find(groupFeeds[size_t(group)].begin(), groupFeeds[size_t(group)].end(),
                          feedOf[size_t(story)]) != groupFeeds[size_t(group)].end())
                continue;
            if (chosen < 0 || count > matches[size_t(chosen)])
                chosen = group;
        }
        for (const int group : touched)
            matches[size_t(group)] = 0;
        touched.clear();
        if (chosen < 0) {
            chosen = int(members.size());
            members.emplace_back();
            groupFeeds.emplace_back();
            matches.push_back(0);
            settledFor.push_back(-1);
        }
        members[size_t(chosen)].push_back(story);
        groupFeeds[size_t(chosen)].push_back(feedOf[size_t(story)]);
        groupOf[size_t(story)] = chosen;

        if (!profile.link.isEmpty())
            byLink[profile.link].push_back(story);
        for (const int token : profile.cves)
            byToken[token].push_back(story);
        for (const Mark& mark : profile.marks) {
            if (mark.titleWord >= 0 && matcher.canBeStrong(mark.token))
                byTitleToken[mark.token].push_back(story);
        }
    }

    // Groups in the order of their first story in `items`.
    std::vector<int> groupOrder;
    std::vector<bool> placed(members.size(), false);
    for (qsizetype i = 0; i < n; ++i) {
        const int group = groupOf[size_t(i)];
        if (!placed[size_t(group)]) {
            placed[size_t(group)] = true;
            groupOrder.push_back(group);
        }
    }
    QList<StoryGroup> groups;
    groups.reserve(qsizetype(groupOrder.size()));
    for (const int group : groupOrder) {
        StoryGroup told;
        for (const int member : members[size_t(group)])
            told.stories.append(items[member]);
        groups.append(std::move(told));
    }
    return groups;
}

QList<NewsItem> storiesOf(const QList<StoryGroup>& groups)
{
    QList<NewsItem> stories;
    for (const StoryGroup& group : groups)
        stories.append(group.stories);
    return stories;
}

QList<qsizetype> groupSizes(const QList<StoryGroup>& groups)
{
    QList<qsizetype> sizes;
    sizes.reserve(groups.size());
    for (const StoryGroup& group : groups)
        sizes.append(group.stories.size());
    return sizes;
}

QList<StoryGroup> groupsBySize(const QList<NewsItem>& items, const QList<qsizetype>& sizes)
{
    const bool fits = std::all_of(sizes.begin(), sizes.end(), [](qsizetype s) { return s > 0; }) &&
                      std::accumulate(sizes.begin(), sizes.end(), qsizetype(0)) == items.size();
    QList<StoryGroup> groups;
    if (!fits || sizes.isEmpty()) {
        for (const NewsItem& item : items)
            groups.append(StoryGroup{{item}});
        return groups;
    }
    qsizetype at = 0;
    for (const qsizetype size : sizes) {
        groups.append(StoryGroup{items.mid(at, size)});
        at += size;
    }
    return groups;
}

QString spokenList(const QStringList& words)
{
    if (words.size() <= 1)
        return words.value(0);
    return words.first(words.size() - 1).join(u", "_qs) + u" and "_qs + words.last();
}

} // namespace vardelle
