// A line a local program sends to the running desktop, taken and run as the desktop runs a
// `vardelle feeds` or `vardelle watch` request, against preferences held in memory. Commands
// that would fetch an address are taken but not run: the fuzzer has no network.
#include "FuzzTargets.h"

#include "instance/InstanceProtocol.h"
#include "library/Library.h"
#include "news/NewsService.h"
#include "settings/AppSettings.h"
#include "store/HeadlineStore.h"
#include "time/Clock.h"

#include <QCoreApplication>

void vardelle::fuzz::instanceRequests(QByteArrayView data)
{
    const std::optional<QJsonObject> message = instance::decodeLine(data.toByteArray());
    if (!message)
        return;
    QString error;
    const std::optional<LibraryRequest> request = libraryRequestFromMessage(*message, error);
    if (!request) {
        FUZZ_CHECK(!error.isEmpty());
        return;
    }
    // Never a file for this process to open: an import carries its feeds.
    FUZZ_CHECK(request->action != LibraryRequest::Action::importFeeds || request->import);
    // And it reads back as it was sent.
    QString again;
    const std::optional<LibraryRequest> retaken =
        libraryRequestFromMessage(libraryMessage(*request), again);
    FUZZ_CHECK(retaken && retaken->action == request->action &&
               retaken->subjects == request->subjects);
    if (request->action == LibraryRequest::Action::addFeed)
        return;

    // The commands' futures need an application object; a program that has one (the replay
    // test) keeps its own.
    static int argc = 1;
    static char name[] = "fuzz";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* const application =
        QCoreApplication::instance() ? nullptr : new QCoreApplication(argc, argv);
    Q_UNUSED(application);
    static HeadlineStore store(QString(), Clock::system());
    static NewsService news(store, Clock::system());
    AppSettings settings{QString()};
    settings.setWatchTerms({QStringLiteral("Ivanti")});
    Library library(settings, news);
    if (request->import) {
        const Library::ImportPlan plan =
            Library::planImport(request->import->entries, settings.ownFeeds());
        FUZZ_CHECK(plan.candidates.size() + plan.skipped.size() + plan.present ==
                   request->import->entries.size());
        return;
    }
    const QFuture<CommandOutput> future = library.perform(*request);
    FUZZ_CHECK(future.isFinished());
    const CommandOutput output = future.result();
    FUZZ_CHECK(output.status >= 0 && output.status <= 2);
    FUZZ_CHECK(output.status == 0 || !output.err.isEmpty());
    // Whatever was asked, the limits hold.
    FUZZ_CHECK(settings.watchTerms().size() <= AppSettings::maxWatchTerms);
    for (const QString& term : settings.watchTerms())
        FUZZ_CHECK(AppSettings::isValidWatchTerm(term));
    FUZZ_CHECK(settings.ownFeeds().size() <= AppSettings::maxOwnFeeds);
}
