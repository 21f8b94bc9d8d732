// An OPML file given to `vardelle feeds import`, all the way to the feeds it would add: read
// within the limits, handed to the running desktop as one protocol line and taken back, then
// planned next to the feeds already there.
#include "FuzzTargets.h"

#include "instance/InstanceProtocol.h"
#include "library/LibraryCommands.h"

#include <QSet>

void vardelle::fuzz::feedsImport(QByteArrayView data)
{
    CommandOutput refusal;
    const std::optional<LibraryCommands::ImportRequest> request = LibraryCommands::importFromBytes(
        data.toByteArray(), QStringLiteral("fuzz.opml"), NewsCategory::malware, refusal);
    if (!request) {
        FUZZ_CHECK(refusal.status != 0 && !refusal.err.isEmpty());
        return;
    }
    FUZZ_CHECK(request->entries.size() <= LibraryCommands::maxImportEntries);

    // What the terminal sends is what the desktop takes.
    const QByteArray line = instance::encodeLine(LibraryCommands::importMessage(*request));
    const std::optional<QJsonObject> message = instance::decodeLine(line.chopped(1));
    FUZZ_CHECK(message.has_value());
    QString error;
    const std::optional<LibraryCommands::Request> taken =
        LibraryCommands::requestFromMessage(*message, error);
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
    const LibraryCommands::ImportPlan plan =
        LibraryCommands::planImport(taken->import->entries, own);
    FUZZ_CHECK(plan.candidates.size() + plan.skipped.size() + plan.present ==
               request->entries.size());
    QSet<QString> addresses;
    for (const LibraryCommands::ImportPlan::Candidate& candidate : plan.candidates) {
        FUZZ_CHECK(isFeedAddress(candidate.url));
        const QString key = comparableAddress(candidate.entry.address);
        FUZZ_CHECK(key != comparableAddress(u"https://example.org/feed"));
        addresses.insert(key);
    }
    FUZZ_CHECK(plan.newAddresses == addresses.size());
    for (const auto& [index, reason] : plan.skipped)
        FUZZ_CHECK(index >= 0 && index < request->entries.size() && !reason.isEmpty());
}
