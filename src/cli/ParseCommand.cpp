#include "cli/Cli.h"

#include "news/FeedParser.h"

#include <QCommandLineParser>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QScopeGuard>

#include <sys/mman.h>

#include <cstdio>

namespace vardelle::cli {

int parseCommand(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Parses the saved feed document FILE as the catalogue feed FEED-ID and "
                       "prints its stories as one JSON array, in document order."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("FEED-ID"),
                                 QStringLiteral("A catalogue feed, such as bleepingcomputer."));
    parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("The saved document."));
    parser.process(arguments);

    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 2) {
        std::fprintf(stderr, "vardelle parse: expected FEED-ID and FILE\n");
        return UsageError;
    }
    const FeedSource* source = FeedSource::find(positional[0]);
    if (!source) {
        QStringList ids;
        for (const FeedSource& feed : FeedSource::catalog())
            ids.append(feed.id);
        std::fprintf(stderr, "vardelle parse: unknown feed '%s'; the feeds are: %s\n",
                     qPrintable(positional[0]), qPrintable(ids.join(u", ")));
        return UsageError;
    }
    QFile file(positional[1]);
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "vardelle parse: cannot read %s: %s\n", qPrintable(positional[1]),
                     qPrintable(file.errorString()));
        return UsageError;
    }
    // A regular file is mapped rather than read: no copy into a buffer faulted in page by page.
    // What cannot be mapped (a pipe, an empty file) is read.
    const qint64 size = file.size();
    void* mapped = size > 0 ? mmap(nullptr, size_t(size), PROT_READ, MAP_PRIVATE | MAP_POPULATE,
                                   file.handle(), 0)
                            : MAP_FAILED;
    const auto unmap = qScopeGuard([&] {
        if (mapped != MAP_FAILED)
            munmap(mapped, size_t(size));
    });
    const QByteArray document =
        mapped != MAP_FAILED ? QByteArray::fromRawData(static_cast<const char*>(mapped), size)
                             : file.readAll();
    if (file.error() != QFileDevice::NoError) {
        std::fprintf(stderr, "vardelle parse: cannot read %s: %s\n", qPrintable(positional[1]),
                     qPrintable(file.errorString()));
        return UsageError;
    }

    QJsonArray array;
    for (const NewsItem& item : FeedParser(*source).parse(document))
        array.append(toJson(item));
    const QByteArray json = array.isEmpty() ? QByteArrayLiteral("[]\n")
                                            : QJsonDocument(array).toJson(QJsonDocument::Indented);
    std::fwrite(json.constData(), 1, size_t(json.size()), stdout);
    return std::fflush(stdout) == 0 ? Success : Failure;
}

} // namespace vardelle::cli
