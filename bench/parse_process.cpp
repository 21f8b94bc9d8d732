// `vardelle parse` as a whole process against expat alone.
//
// Builds one RSS feed of about 40 MB from the real items of the shared corpus's publishers'
// documents into a temporary file, then runs, in alternating rounds, `vardelle parse` over it
// (reading the file, parsing, printing the JSON to /dev/null) and, as the baseline, a process
// that reads the same file and runs expat's namespace parser with no handlers over it. Prints
// the best wall time of each, their MB/s, CPU time and page faults, and the ratio of the wall
// times (and of the CPU times, which a loaded machine disturbs less).
//
//   bench_parse_process [VARDELLE [ROUNDS]]
//   bench_parse_process --write FILE    only writes the feed to FILE (to profile with it)

#include "LargeFeed.h"

#include <QTemporaryFile>

#include <sys/resource.h>
#include <sys/wait.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

using namespace vardelle;

namespace {

struct Run {
    double seconds = 0;
    double cpuSeconds = 0;
    long pageFaults = 0;
};

double secondsOf(const timeval& t)
{
    return double(t.tv_sec) + double(t.tv_usec) / 1e6;
}

// Runs the program with its standard output on /dev/null; nullopt when it fails.
std::optional<Run> run(std::vector<const char*> argv)
{
    argv.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        execv(argv[0], const_cast<char* const*>(argv.data()));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (child < 0 || wait4(child, &status, 0, &usage) != child)
        return std::nullopt;
    const auto end = std::chrono::steady_clock::now();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "%s failed (status %d)\n", argv[0], status);
        return std::nullopt;
    }
    return Run{std::chrono::duration<double>(end - start).count(),
               secondsOf(usage.ru_utime) + secondsOf(usage.ru_stime),
               usage.ru_minflt + usage.ru_majflt};
}

// The fastest run, with the least CPU time of all runs.
void keepBest(std::optional<Run>& best, const Run& run)
{
    if (!best) {
        best = run;
        return;
    }
    if (run.seconds < best->seconds) {
        best->seconds = run.seconds;
        best->pageFaults = run.pageFaults;
    }
    best->cpuSeconds = std::min(best->cpuSeconds, run.cpuSeconds);
}

void print(const char* what, const Run& best, double megabytes)
{
    std::printf("  %-26s %6.3f s  %7.1f MB/s  cpu %6.3f s  %7ld page faults\n", what, best.seconds,
                megabytes / best.seconds, best.cpuSeconds, best.pageFaults);
}

} // namespace

int main(int argc, char* argv[])
{
    const bool writeOnly = argc == 3 && std::strcmp(argv[1], "--write") == 0;
    const char* vardelle = argc > 1 && !writeOnly ? argv[1] : VARDELLE_BINARY;
    const int rounds = argc > 2 && !writeOnly ? std::max(1, std::atoi(argv[2])) : 5;

    QString dir;
    const QByteArray feed = bench::largeFeedOf(bench::publisherDocuments(&dir), 40'000'000);
    if (feed.isEmpty()) {
        std::printf("no publisher items under %s: nothing to measure\n", qPrintable(dir));
        return 0;
    }
    if (writeOnly) {
        QFile out(QString::fromLocal8Bit(argv[2]));
        return out.open(QIODevice::WriteOnly) && out.write(feed) == feed.size() ? 0 : 1;
    }
    QTemporaryFile file;
    if (!file.open() || file.write(feed) != feed.size() || !file.flush()) {
        std::fprintf(stderr, "cannot write the feed to a temporary file\n");
        return 1;
    }
    const QByteArray path = file.fileName().toLocal8Bit();
    const double megabytes = double(feed.size()) / 1e6;

    // Alternating rounds, best of each: other work on the machine slows both alike.
    std::optional<Run> baseline;
    std::optional<Run> ours;
    for (int round = 0; round < rounds; ++round) {
        const auto expat = run({BENCH_EXPAT_FILE, path.constData()});
        const auto parse = run({vardelle, "parse", "bleepingcomputer", path.constData()});
        if (!expat || !parse)
            return 1;
        keepBest(baseline, *expat);
        keepBest(ours, *parse);
    }
    std::printf("one feed of %.1f MB of real items, best of %d rounds:\n", megabytes, rounds);
    print("expat alone (baseline):", *baseline, megabytes);
    print("vardelle parse:", *ours, megabytes);
    std::printf("  ratio: %.2f (goal at least 0.60); of CPU time: %.2f\n",
                baseline->seconds / ours->seconds, baseline->cpuSeconds / ours->cpuSeconds);
    return 0;
}
