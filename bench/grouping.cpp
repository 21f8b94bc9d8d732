// Telling one event once: precision and recall of groupStories on the evaluation pairs of
// tests/data/grouping/pairs.txt (written for this project: same events and hard different ones),
// then the time to group 2,000 stories published within 72 hours of each other against a
// baseline measured in the same run: mergeGathered, the sort and de-duplication every gather
// already does on the same stories. The 2,000 are titles and summaries of words drawn at random
// from the corpus's feeds when the corpus is there, else from the evaluation set's much smaller
// vocabulary, where many stories share names by chance (a harder case).

#include "BenchTiming.h"
#include "CorpusStories.h"
#include "news/GatherMerge.h"
#include "news/StoryGroups.h"
#include "support/GroupingPairs.h"
#include "support/ManualClock.h"
#include "support/TestData.h"

#include <QCoreApplication>
#include <QFile>
#include <QHash>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <random>

using namespace vardelle;

namespace {

constexpr int storyCount = 2000;
constexpr int runs = 15;
constexpr double goalMs = 20.0;

struct Tally {
    int truePairs = 0;      // labelled the same event
    int found = 0;          // of those, told as one
    int falseMerges = 0;    // different events told as one
    int differentPairs = 0; // labelled different
};

// Which group each story id ended in.
QHash<QString, int> groupIndex(const QList<StoryGroup>& groups)
{
    QHash<QString, int> index;
    for (qsizetype g = 0; g < groups.size(); ++g) {
        for (const NewsItem& item : groups[g].stories)
            index.insert(item.id, int(g));
    }
    return index;
}

void printTally(const char* how, const Tally& tally)
{
    const int merged = tally.found + tally.falseMerges;
    std::printf("%s: recall %d/%d = %.1f %%, precision %d/%d = %.1f %% (%d false merges; "
                "goal: none, recall >= 80 %%)\n",
                how, tally.found, tally.truePairs, 100.0 * tally.found / tally.truePairs,
                tally.found, merged, merged ? 100.0 * tally.found / merged : 100.0,
                tally.falseMerges);
}

void evaluate(const QList<test::LabelledPair>& pairs)
{
    // Each pair on its own: only its two stories to weigh words by.
    Tally alone;
    for (const test::LabelledPair& pair : pairs) {
        const bool merged = groupStories({pair.first, pair.second}).size() == 1;
        if (pair.same) {
            ++alone.truePairs;
            alone.found += merged;
        } else {
            ++alone.differentPairs;
            alone.falseMerges += merged;
            if (merged)
                std::printf("  false merge (alone): %s | %s\n", qPrintable(pair.first.title),
                            qPrintable(pair.second.title));
        }
    }

    // All stories in one gather, as they would come: every two stories of different blocks are
    // different events as well.
    QList<NewsItem> all;
    for (const test::LabelledPair& pair : pairs)
        all << pair.first << pair.second;
    std::sort(all.begin(), all.end(),
              [](const NewsItem& a, const NewsItem& b) { return a.published > b.published; });
    const QList<StoryGroup> groups = groupStories(all);
    const QHash<QString, int> index = groupIndex(groups);
    Tally together;
    for (const test::LabelledPair& pair : pairs) {
        const bool merged = index.value(pair.first.id) == index.value(pair.second.id);
        if (pair.same) {
            ++together.truePairs;
            together.found += merged;
            if (!merged)
                std::printf("  missed: %s | %s\n", qPrintable(pair.first.title),
                            qPrintable(pair.second.title));
        } else {
            ++together.differentPairs;
            together.falseMerges += merged;
        }
    }
    for (const StoryGroup& group : groups) {
        // Pairs of stories of different blocks in one group.
        for (qsizetype i = 0; i < group.stories.size(); ++i) {
            for (qsizetype j = i + 1; j < group.stories.size(); ++j) {
                const QString a = group.stories[i].id.section(u'-', 0, 0);
                const QString b = group.stories[j].id.section(u'-', 0, 0);
                if (a == b)
                    continue;
                ++together.falseMerges;
                std::printf("  false merge (together): %s | %s\n",
                            qPrintable(group.stories[i].title), qPrintable(group.stories[j].title));
            }
        }
    }
    std::printf("%lld pairs: %d of one event, %d of different events\n",
                static_cast<long long>(pairs.size()), alone.truePairs, alone.differentPairs);
    printTally("each pair alone   ", alone);
    printTally("all in one gather ", together);
}

// 2,000 stories of the given ones' words, shuffled title by title, over three days.
QList<NewsItem> madeStories(const QList<NewsItem>& from, std::mt19937& random)
{
    QStringList titleWords;
    QStringList summaryWords;
    for (const NewsItem& item : from) {
        titleWords.append(item.title.split(u' ', Qt::SkipEmptyParts));
        summaryWords.append(item.summary.split(u' ', Qt::SkipEmptyParts));
    }
    const Instant start = test::utc(2025, 7, 1);
    QList<NewsItem> stories;
    for (int i = 0; i < storyCount; ++i) {
        NewsItem item;
        item.id = QString::number(i);
        item.source = u"Feed %1"_qs.arg(i % 20);
        item.link = u"https://news.example/%1"_qs.arg(i);
        item.published = start + std::chrono::minutes(random() % (72 * 60));
        for (int w = 0; w < 10; ++w)
            item.title += titleWords[int(random() % titleWords.size())] + u' ';
        for (int w = 0; w < 45; ++w)
            item.summary += summaryWords[int(random() % summaryWords.size())] + u' ';
        stories.append(item);
    }
    return stories;
}

} // namespace

int main(int argc, char* argv[])
{
    using vardelle::bench::medianMs;
    using vardelle::bench::threadCpuMs;
    QCoreApplication app(argc, argv);
    std::mt19937 random(20251211);

    QFile file(QStringLiteral(VARDELLE_TEST_DATA_DIR "/grouping/pairs.txt"));
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cannot read %s\n", qPrintable(file.fileName()));
        return 1;
    }
    const QList<test::LabelledPair> pairs =
        test::readGroupingPairs(file.readAll(), test::utc(2025, 7, 1));
    evaluate(pairs);

    QList<NewsItem> stories = vardelle::bench::corpusStories();
    const bool fromCorpus = !stories.isEmpty();
    if (!fromCorpus) {
        for (const test::LabelledPair& pair : pairs)
            stories << pair.first << pair.second;
    }
    stories = madeStories(stories, random);
    sortNewestFirst(stories);
    qint64 characters = 0;
    for (const NewsItem& item : stories)
        characters += item.title.size() + item.summary.size();
    std::printf("%lld stories (%s, %lld characters of title and summary)\n",
                static_cast<long long>(stories.size()),
                fromCorpus ? "made of the words of the corpus's feeds"
                           : "made of the evaluation set's words",
                static_cast<long long>(characters));

    QList<double> cpus;
    QList<double> baselineCpus;
    qsizetype groups = 0;
    qsizetype kept = 0;
    for (int run = 0; run < runs; ++run) {
        double cpu = threadCpuMs();
        groups = groupStories(stories).size();
        cpus.append(threadCpuMs() - cpu);

        cpu = threadCpuMs();
        kept = mergeGathered(stories, Instant{}).size();
        baselineCpus.append(threadCpuMs() - cpu);
    }
    const double ms = medianMs(cpus);
    const double baselineMs = medianMs(baselineCpus);
    std::printf("groupStories: %.2f ms CPU median of %d (goal < %.1f ms); %lld groups\n", ms, runs,
                goalMs, static_cast<long long>(groups));
    std::printf("baseline, mergeGathered on the same stories: %.2f ms CPU, %lld kept\n", baselineMs,
                static_cast<long long>(kept));
    std::printf("ratio groupStories / baseline = %.3f\n", ms / baselineMs);
    return 0;
}
