// An OPML file given to `vardelle feeds import`, all the way to the feeds it would add: read
// within the limits, handed to the running desktop as one protocol line and taken back, then
// planned next to the feeds already there.
#include "FuzzTargets.h"

#include "instance/InstanceProtocol.h"
#include "library/Library.h"

#include <QSet>

void vardelle::fuzz::feedsImport(QByteArrayView data)
{
    const auto read = Library::importFromBytes(data.toByteArray(), QStringLiteral("fuzz.opml"),
                                               NewsCategory::malware);
    if (const auto* refusal = std::get_if<LibraryRefusal>(&read)) {
        FUZZ_CHECK(!describe(*refusal).isEmpty());
        return;
    }
    LibraryRequest sent;
    sent.action = LibraryRequest::Action::importFeeds;
    sent.import = std::get<ImportRequest>(read);
    const std::optional<ImportRequest>& request = sent.import;
    FUZZ_CHECK(request->entries.size() <= Library::maxImportEntries);

    // What the terminal sends is what the desktop takes.
    const QByteArray line = instance::encodeLine(libraryMessage(sent));
    const std::optional<QJsonObject> message = instance::decodeLine(line.chopped(1));
    FUZZ_CHECK(message.has_value());
    QString error;
    const std::optional<LibraryRequest> taken = libraryRequestFromMessage(*message, error);
    FUZZ_CHECK(taken.has_value() && taken->import.has_value());
    FUZZ_CHECK(taken->import->from == request->from);
    FUZZ_CHECK(taken->import->fallback == request->fallback);
    FUZZ_CHECK(taken->import->entries.size() == request->entries.size());
    for (qsizetype i = 0; i < request->entries.size(); ++i) {
        const OpmlEntry& sent = request->entries[i];
        const OpmlEntry& got = taken->import->entries[i];
        FUZZ_CHECK(sent.address == got.address && sent.name == got.name &&
                   sent.category == got.category);
    }

    // Every entry is fetched, skipped with a reason or found among the feeds; what is fetched
    // is a web address new among the feeds, each address counted once against the limit.
    const QList<OwnFeed> own{{QStringLiteral("mine"), QStringLiteral("Mine"),
                              QUrl(QStringLiteral("https://example.org/feed")),
                              NewsCategory::cybersecurity, true}};
    const Library::ImportPlan plan = Library::planImport(taken->import->entries, own);
    FUZZ_CHECK(plan.candidates.size() + plan.skipped.size() + plan.present ==
               request->entries.size());
    QSet<QString> addresses;
    for (const Library::ImportPlan::Candidate& candidate : plan.candidates) {
        FUZZ_CHECK(isFeedAddress(candidate.url));
        const QString key = comparableAddress(candidate.entry.address);
        FUZZ_CHECK(key != comparableAddress(u"https://example.org/feed"));
        addresses.insert(key);
    }
    FUZZ_CHECK(plan.newAddresses == addresses.size());
    for (const auto& [index, refusal] : plan.skipped)
        FUZZ_CHECK(index >= 0 && index < request->entries.size() && !describe(refusal).isEmpty());
}
