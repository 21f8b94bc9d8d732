#include "news/StoryGroups.h"

#include "news/StoryProfile.h"
#include "news/StoryWords.h"

#include <QHash>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <vector>

namespace vardelle {

namespace {

using namespace storywords;

// Weighs the words of a set of stories and compares two of them.
class EventMatcher {
    // A word of both stories' titles, or of both summaries, by its places in each.
    struct SharedWord {
        int placeA; // in the first story's text
        int placeB; // in the second's
        bool strong;
    };

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
            size_t shared = 0;
            for (auto ia = pa.cves.begin(), ib = pb.cves.begin();
                 ia != pa.cves.end() && ib != pb.cves.end();) {
                if (*ia < *ib) {
                    ++ia;
                } else if (*ib < *ia) {
                    ++ib;
                } else {
                    ++shared;
                    ++ia;
                    ++ib;
                }
            }
            if (shared == 0)
                return false; // about different vulnerabilities
            const size_t all = pa.cves.size() + pb.cves.size() - shared;
            if (2 * shared >= all)
                return true;
        }

        double score = 0;
        int strongCount = 0;    // strong words in common, a name of several words counted once
        bool elsewhere = false; // strong words in common outside the titles (counted as one)
        int strongInTitles = 0;
        int plainInTitles = 0; // other words in both titles ("earnings", "outage")
        int broadInTitles = 0; // names many stories carry, in both titles ("Mozilla", "UK")
        int namesElsewhere = 0;
        bool sharedNumber = false;
        // The words of both titles, by their places in each; kept between calls, so that no
        // comparison allocates.
        std::vector<SharedWord>& titleWords = m_titleWords;
        titleWords.clear();
        // The words of `b` looked up among those of `a`, in the order of their tokens.
        const std::vector<Mark>& placesA = placesOf(a);
        std::vector<SharedWord>& summaryNames = m_summaryNames;
        summaryNames.clear();
        for (const Mark& mark : pb.marks) {
            const int token = mark.token;
            const Mark& markA = placesA[size_t(token)];
            if (markA.token == absent)
                continue;
            const int placeA = markA.titleWord;
            const int placeB = mark.titleWord;
            const bool bothTitles = placeA >= 0 && placeB >= 0;
            const bool oneTitle = placeA >= 0 || placeB >= 0;
            const double w = weight(token) * (bothTitles ? 1.0 : oneTitle ? 0.8 : 0.5);
            score += w;
            const Kind kind = m_vocabulary.info(token).kind;
            if (bothTitles && w > 0) {
                titleWords.push_back({placeA, placeB, w >= strong});
                if (w < strong)
                    plainInTitles += kind == Kind::word;
                broadInTitles += kind == Kind::broad;
            }
            // Names that both summaries give, outside the titles ("Identity Services Engine").
            if (kind == Kind::word && m_vocabulary.info(token).named) {
                if (!oneTitle && w >= 0.5 * strong)
                    ++namesElsewhere;
                if (markA.summaryWord >= 0 && mark.summaryWord >= 0)
                    summaryNames.push_back({markA.summaryWord, mark.summaryWord, false});
            }
            if (w >= strong) {
                sharedNumber |= kind == Kind::number || kind == Kind::amount;
                if (bothTitles) {
                    ++strongInTitles;
                } else {
                    elsewhere = true;
                }
            }
        }
        if (strongInTitles == 0)
            return false;
        // Strong words elsewhere count once; names that only the summaries share, two or
        // more of them, once more, three or more, twice.
        // A name of several words that both summaries write alike ("Endpoint Manager Mobile",
        // "Identity Services Engine": the same words at the same distances) counts as much.
        const size_t summaryName = longestPhrase(summaryNames);
        strongCount += int(elsewhere) + (namesElsewhere >= 3 || summaryName >= 3   ? 2
                                         : namesElsewhere >= 2 || summaryName >= 2 ? 1
                                                                                   : 0);
        // Words side by side in both titles make one name ("Palo Alto", "Scattered Spider"),
        // counted once when it holds a strong word; each word joined to the one before says
        // more than the two words apart, as the pair is rarer than either.
        std::sort(titleWords.begin(), titleWords.end(),
                  [](const SharedWord& x, const SharedWord& y) { return x.placeA < y.placeA; });
        size_t longestName = 0;
        size_t run = 0;
        bool runCounted = false; // whether the run of words so far has been counted as a name
        for (size_t i = 0; i < titleWords.size(); ++i) {
            const bool next = i > 0 && titleWords[i].placeA == titleWords[i - 1].placeA + 1 &&
                              titleWords[i].placeB == titleWords[i - 1].placeB + 1;
            if (next) {
                ++run;
                score += joinedWord;
            } else {
                run = 1;
                runCounted = false;
            }
            if (titleWords[i].strong && !runCounted) {
                ++strongCount;
                runCounted = true;
            }
            longestName = std::max(longestName, run);
        }
        if (score < 2.0)
            return false;
        // Two such names (a vendor and its product) say as much as one plain word; one alone
        // ("UK") does not.
        plainInTitles += broadInTitles / 2;
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
    static constexpr int absent = -1;

    // The longest run of words in both summaries at the same distances from each other in
    // both, at most two words apart (a common word between them); sorts `words`.
    static size_t longestPhrase(std::vector<SharedWord>& words)
    {
        std::sort(words.begin(), words.end(),
                  [](const SharedWord& x, const SharedWord& y) { return x.placeA < y.placeA; });
        size_t longest = words.empty() ? 0 : 1;
        for (size_t i = 1, run = 1; i < words.size(); ++i) {
            const int gap = words[i].placeA - words[i - 1].placeA;
            run = gap <= 2 && words[i].placeB - words[i - 1].placeB == gap ? run + 1 : 1;
            longest = std::max(longest, run);
        }
        return longest;
    }

    // By token, the mark of story `a` (token `absent` when it has none). Filled for one story
    // at a time, and cleared for the next, so that comparing it to each of its candidates is one
    // pass over the candidate's words.
    const std::vector<Mark>& placesOf(int a) const
    {
        if (m_placesStory == a)
            return m_places;
        if (m_places.empty())
            m_places.assign(size_t(m_vocabulary.size()), Mark{absent});
        if (m_placesStory >= 0) {
            for (const Mark& mark : m_profiles[size_t(m_placesStory)].marks)
                m_places[size_t(mark.token)].token = absent;
        }
        for (const Mark& mark : m_profiles[size_t(a)].marks)
            m_places[size_t(mark.token)] = mark;
        m_placesStory = a;
        return m_places;
    }

    const QList<NewsItem>& m_items;
    const std::vector<Profile>& m_profiles;
    const Vocabulary& m_vocabulary;
    double m_crowd = 3;
    std::vector<double> m_weights; // by token
    static constexpr double joinedWord = 0.3;
    mutable std::vector<SharedWord> m_titleWords;
    mutable std::vector<SharedWord> m_summaryNames;
    mutable std::vector<Mark> m_places;
    mutable int m_placesStory = -1;
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
