// Watch-list matching: 200 terms (vendors, products, phrases, CVE ids) over 2,000 stories, the
// titles and summaries of the corpus's feeds when it is there, else generated ones. Prints the
// time of WatchList::match over all stories against a baseline measured in the same run: every
// term searched for in every text with a case-insensitive find and the same whole-word check.

#include "BenchTiming.h"
#include "CorpusStories.h"
#include "news/WatchList.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <random>

using namespace vardelle;

namespace {

constexpr int storyCount = 2000;
constexpr int termCount = 200;
constexpr int runs = 15;
constexpr double goalMs = 5.0;

QList<NewsItem> generatedStories(std::mt19937& random)
{
    const QStringList words{u"attackers"_qs,   u"exploit"_qs, u"patch"_qs,   u"critical"_qs,
                            u"flaw"_qs,        u"in"_qs,      u"the"_qs,     u"ransomware"_qs,
                            u"gang"_qs,        u"targets"_qs, u"gateway"_qs, u"users"_qs,
                            u"update"_qs,      u"now"_qs,     u"warns"_qs,   u"agency"_qs,
                            u"Microsoft's"_qs, u"Linux"_qs,   u"servers"_qs, u"CVE-2023-4966"_qs};
    QList<NewsItem> stories;
    for (int i = 0; i < storyCount; ++i) {
        NewsItem item;
        for (int w = 0; w < 10; ++w)
            item.title += words[int(random() % words.size())] + u' ';
        for (int w = 0; w < 60; ++w)
            item.summary += words[int(random() % words.size())] + u' ';
        stories.append(item);
    }
    return stories;
}

QStringList terms()
{
    QStringList list{u"Ivanti"_qs,     u"FortiOS"_qs,   u"Fortinet"_qs,  u"Citrix"_qs,
                     u"NetScaler"_qs,  u"Palo Alto"_qs, u"PAN-OS"_qs,    u"Cisco IOS XE"_qs,
                     u"VMware"_qs,     u"ESXi"_qs,      u"MOVEit"_qs,    u"Exchange Server"_qs,
                     u"Confluence"_qs, u"Jenkins"_qs,   u"GitLab"_qs,    u"OpenSSH"_qs,
                     u"Log4j"_qs,      u"Chrome"_qs,    u"WordPress"_qs, u"SonicWall"_qs};
    for (int i = 0; list.size() < termCount; ++i)
        list.append(u"CVE-2024-%1"_qs.arg(1000 + i * 37));
    return list;
}

// The obvious way: each term looked for in each text, ignoring case, with the whole-word check.
bool naiveMatch(const QStringList& list, const NewsItem& item)
{
    const auto wordChar = [](const QString& text, qsizetype i) {
        return i >= 0 && i < text.size() && text[i].isLetterOrNumber();
    };
    for (const QString& term : list) {
        for (const QString* text : {&item.title, &item.summary}) {
            for (qsizetype at = text->indexOf(term, 0, Qt::CaseInsensitive); at >= 0;
                 at = text->indexOf(term, at + 1, Qt::CaseInsensitive)) {
                if (!wordChar(*text, at - 1) && !wordChar(*text, at + term.size()))
                    return true;
            }
        }
    }
    return false;
}

} // namespace

int main(int argc, char* argv[])
{
    using vardelle::bench::medianMs;
    using vardelle::bench::threadCpuMs;
    QCoreApplication app(argc, argv);
    std::mt19937 random(20241210);

    QList<NewsItem> source = vardelle::bench::corpusStories();
    const bool fromCorpus = !source.isEmpty();
    if (!fromCorpus)
        source = generatedStories(random);
    QList<NewsItem> stories;
    while (stories.size() < storyCount)
        stories.append(source[stories.size() % source.size()]);
    qint64 characters = 0;
    for (const NewsItem& item : stories)
        characters += item.title.size() + item.summary.size();

    const QStringList list = terms();
    std::printf("%d stories (%s, %lld characters of title and summary), %lld terms\n", storyCount,
                fromCorpus ? "the corpus's feeds" : "generated", static_cast<long long>(characters),
                static_cast<long long>(list.size()));

    int matched = 0;
    int naiveMatched = 0;
    QList<double> walls;
    QList<double> cpus;
    QList<double> naiveCpus;
    QElapsedTimer timer;
    for (int run = 0; run < runs; ++run) {
        timer.start();
        double cpu = threadCpuMs();
        const WatchList watch(list); // made once per gather, so it counts
        matched = 0;
        for (const NewsItem& item : stories)
            matched += watch.match(item).has_value();
        cpus.append(threadCpuMs() - cpu);
        walls.append(timer.nsecsElapsed() / 1e6);

        cpu = threadCpuMs();
        naiveMatched = 0;
        for (const NewsItem& item : stories)
            naiveMatched += naiveMatch(list, item);
        naiveCpus.append(threadCpuMs() - cpu);
    }
    const double ms = medianMs(cpus);
    const double naiveMs = medianMs(naiveCpus);
    std::printf("WatchList: %.2f ms CPU median of %d (goal < %.1f ms), %.2f ms wall; %d stories "
                "matched\n",
                ms, runs, goalMs, medianMs(walls), matched);
    std::printf("baseline, every term searched in every text: %.2f ms CPU, %d matched\n", naiveMs,
                naiveMatched);
    std::printf("ratio WatchList / baseline = %.3f\n", ms / naiveMs);
    return 0;
}
