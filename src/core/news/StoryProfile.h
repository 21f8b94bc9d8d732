#pragma once

#include "news/NewsItem.h"
#include "news/StoryWords.h"

#include <QHash>
#include <QString>
#include <QStringView>

#include <vector>

// What the stories of a gather say, word by word, for telling whether two report one event.
namespace vardelle::storywords {

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
    int titleWord = -1;   // where it first comes in the title, counting every word; -1 if not
    int summaryWord = -1; // where it first comes in the summary, the same way; -1 if not
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
    int lastMark = -1;      // its mark among those of that story
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
    // The token of a word of letters as written in a story, folded the first time it is
    // written so; -1 for a word too short to count. `written` is kept: the text it is part of
    // must outlive the vocabulary.
    int internWritten(QStringView written)
    {
        const auto it = m_written.constFind(written);
        if (it != m_written.constEnd())
            return *it;
        const QString folded = foldWord(written);
        const int token = folded.size() < 2 ? -1 : internWord(folded);
        m_written.insert(written, token);
        return token;
    }
    TokenInfo& info(int token) { return m_infos[size_t(token)]; }
    const TokenInfo& info(int token) const { return m_infos[size_t(token)]; }
    int size() const { return int(m_infos.size()); }

private:
    QHash<QString, int> m_ids;
    QHash<QStringView, int> m_written; // words as written, into the stories' texts
    std::vector<TokenInfo> m_infos;
};

// The distinctive words, CVE ids and link of `item`, the story numbered `story`, its words
// counted in `vocabulary`. The item must outlive the vocabulary, which refers to its text.
Profile profileOf(const NewsItem& item, Vocabulary& vocabulary, int story);

} // namespace vardelle::storywords
