#include "library/Library.h"

#include "files/UserFile.h"
#include "library/Opml.h"
#include "news/NewsService.h"
#include "news/WatchList.h"
#include "settings/AppSettings.h"

#include <QDir>
#include <QSet>

#include <algorithm>
#include <memory>
#include <optional>

namespace vardelle {

namespace {

using Reason = LibraryRefusal::Reason;

// A field of a tab-separated line: no tab or line break of its own.
QString field(QString text)
{
    for (QChar& c : text) {
        if (c == u'\t' || c == u'\n' || c == u'\r')
            c = u' ';
    }
    return text;
}

QString absolute(const QString& file, const QString& directory)
{
    return QDir(directory.isEmpty() ? QDir::currentPath() : directory).absoluteFilePath(file);
}

// Where an address already is among the feeds: the id of the catalogue or own feed that has it.
std::optional<QString> feedWithAddress(const QList<OwnFeed>& own, const QString& address)
{
    const QString wanted = comparableAddress(address);
    for (const FeedSource& source : FeedSource::catalog()) {
        if (comparableAddress(source.url.toString()) == wanted)
            return source.id;
    }
    for (const OwnFeed& feed : own) {
        if (comparableAddress(feed.url.toString()) == wanted)
            return feed.id;
    }
    return std::nullopt;
}

// Why `address` cannot be added next to the `own` feeds now, if it cannot.
std::optional<LibraryRefusal> refusalToAdd(const QList<OwnFeed>& own, const QString& address)
{
    if (const auto id = feedWithAddress(own, address))
        return LibraryRefusal{Reason::alreadyPresent, address, *id};
    if (own.size() >= AppSettings::maxOwnFeeds)
        return LibraryRefusal{Reason::tooManyFeeds, address, {}};
    return std::nullopt;
}

// A new own feed from a checked address, named as asked, else by its own title, else its host;
// its id is new among the catalogue and `feeds`.
OwnFeed newOwnFeed(const QList<OwnFeed>& feeds, const QUrl& url, const QString& name,
                   const QString& feedTitle, NewsCategory category)
{
    OwnFeed feed;
    const QString chosen = cleanFeedName(name);
    const QString titled = cleanFeedName(feedTitle);
    feed.name = !chosen.isEmpty() ? chosen : !titled.isEmpty() ? titled : url.host();
    feed.id = ownFeedId(feed.name, [&feeds](const QString& id) {
        return FeedSource::find(id) ||
               std::any_of(feeds.cbegin(), feeds.cend(),
                           [&id](const OwnFeed& other) { return other.id == id; });
    });
    feed.url = url;
    feed.category = category;
    return feed;
}

// Where `term` is in `list`, ignoring case and outer spaces; -1 when it is not.
qsizetype indexOfTerm(const QStringList& list, const QString& term)
{
    const QString wanted = WatchList::comparable(term).trimmed();
    for (qsizetype i = 0; i < list.size(); ++i) {
        if (WatchList::comparable(list[i]).trimmed() == wanted)
            return i;
    }
    return -1;
}

template <typename T> QFuture<T> ready(T value)
{
    return QtFuture::makeReadyFuture(std::move(value));
}

} // namespace

Library::Library(AppSettings& settings, NewsService& news)
    : m_settings(settings)
    , m_news(news)
{
}

std::optional<LibraryRefusal>
Library::edit(const std::function<std::optional<LibraryRefusal>()>& change)
{
    std::optional<LibraryRefusal> refusal;
    if (!m_settings.update([&] { refusal = change(); }))
        return LibraryRefusal{Reason::preferencesLocked, {}, m_settings.lockError()};
    return refusal;
}

QFuture<std::variant<OwnFeed, LibraryRefusal>>
Library::addOwnFeed(const QString& typed, const QString& name, NewsCategory category)
{
    using Added = std::variant<OwnFeed, LibraryRefusal>;
    const QString address = typed.trimmed();
    const QUrl url(address, QUrl::StrictMode);
    if (!isFeedAddress(url))
        return ready<Added>(LibraryRefusal{Reason::notFeedAddress, address, {}});
    if (std::optional<LibraryRefusal> refusal = refusalToAdd(m_settings.ownFeeds(), address))
        return ready<Added>(std::move(*refusal));

    return m_news.check(url).then(&m_news, [this, url, address, name, category](FeedCheck check) {
        if (check.refusal)
            return Added(LibraryRefusal{Reason::unusableFeed, address, *check.refusal});
        OwnFeed added;
        // The preferences may have changed while the address was fetched.
        const std::optional<LibraryRefusal> refusal = edit([&]() -> std::optional<LibraryRefusal> {
            QList<OwnFeed> feeds = m_settings.ownFeeds();
            if (std::optional<LibraryRefusal> refusal = refusalToAdd(feeds, address))
                return refusal;
            added = newOwnFeed(feeds, url, name, check.title, category);
            feeds.append(added);
            m_settings.setOwnFeeds(feeds);
            return std::nullopt;
        });
        return refusal ? Added(*refusal) : Added(added);
    });
}

std::optional<LibraryRefusal> Library::removeOwnFeed(const QString& which)
{
    return edit([&]() -> std::optional<LibraryRefusal> {
        QList<OwnFeed> feeds = m_settings.ownFeeds();
        const QString address = comparableAddress(which);
        for (qsizetype i = 0; i < feeds.size(); ++i) {
            if (feeds[i].id == which || comparableAddress(feeds[i].url.toString()) == address) {
                feeds.removeAt(i);
                m_settings.setOwnFeeds(feeds);
                return std::nullopt;
            }
        }
        for (const FeedSource& source : FeedSource::catalog()) {
            if (source.id == which || comparableAddress(source.url.toString()) == address)
                return LibraryRefusal{Reason::catalogueFeed, source.id, {}};
        }
        return LibraryRefusal{Reason::noSuchFeed, which, {}};
    });
}

std::optional<LibraryRefusal> Library::switchFeeds(const QStringList& ids, bool on)
{
    return edit([&]() -> std::optional<LibraryRefusal> {
        QSet<QString> disabled = m_settings.disabledFeedIDs();
        QList<OwnFeed> feeds = m_settings.ownFeeds();
        bool catalogueTouched = false;
        bool ownTouched = false;
        for (const QString& id : ids) {
            if (FeedSource::find(id)) {
                if (on)
                    disabled.remove(id);
                else
                    disabled.insert(id);
                catalogueTouched = true;
                continue;
            }
            const auto own = std::find_if(feeds.begin(), feeds.end(),
                                          [&id](const OwnFeed& feed) { return feed.id == id; });
            if (own == feeds.end())
                return LibraryRefusal{Reason::noSuchFeed, id, {}};
            own->enabled = on;
            ownTouched = true;
        }
        if (catalogueTouched)
            m_settings.setDisabledFeedIDs(disabled);
        if (ownTouched)
            m_settings.setOwnFeeds(feeds);
        return std::nullopt;
    });
}

std::optional<LibraryRefusal> Library::addWatchTerms(const QStringList& terms)
{
    return edit([&]() -> std::optional<LibraryRefusal> {
        QStringList stored = m_settings.watchTerms();
        for (const QString& term : terms) {
            if (!AppSettings::isValidWatchTerm(term))
                return LibraryRefusal{Reason::invalidTerm, term, {}};
            if (indexOfTerm(stored, term) >= 0)
                return LibraryRefusal{Reason::termPresent, term, {}};
            stored.append(term.trimmed()); // shown and matched without its outer spaces
        }
        if (stored.size() > AppSettings::maxWatchTerms)
            return LibraryRefusal{Reason::tooManyTerms, {}, {}};
        m_settings.setWatchTerms(stored);
        return std::nullopt;
    });
}

std::optional<LibraryRefusal> Library::removeWatchTerms(const QStringList& terms)
{
    return edit([&]() -> std::optional<LibraryRefusal> {
        QStringList stored = m_settings.watchTerms();
        for (const QString& term : terms) {
            const qsizetype index = indexOfTerm(stored, term);
            if (index < 0)
                return LibraryRefusal{Reason::termAbsent, term, {}};
            stored.removeAt(index);
        }
        m_settings.setWatchTerms(stored);
        return std::nullopt;
    });
}

QString Library::feedLine(const FeedSource& source, bool on)
{
    return field(source.id) + u'\t' + field(source.name) + u'\t' + identifier(source.category) +
           u'\t' + (on ? u"on"_qs : u"off"_qs) + u'\t' +
           field(source.url.toString(QUrl::RemovePassword));
}

QStringList Library::feedLines() const
{
    QStringList lines;
    const QSet<QString> disabled = m_settings.disabledFeedIDs();
    for (const FeedSource& source : FeedSource::catalog())
        lines.append(feedLine(source, !disabled.contains(source.id)));
    for (const OwnFeed& feed : m_settings.ownFeeds())
        lines.append(feedLine(feed.source(), feed.enabled));
    return lines;
}

std::variant<ImportRequest, LibraryRefusal>
Library::readImport(const QString& file, const QString& directory,
                    std::optional<NewsCategory> fallback)
{
    const bool standardInput = file == u"-";
    const QString from = standardInput ? u"standard input"_qs : absolute(file, directory);
    const UserFileRead read = readUserFile(standardInput ? file : from, maxImportBytes);
    if (!read.bytes)
        return LibraryRefusal{Reason::unreadableFile, from, read.error};
    return importFromBytes(*read.bytes, from, fallback);
}

std::variant<ImportRequest, LibraryRefusal>
Library::importFromBytes(const QByteArray& bytes, const QString& from,
                         std::optional<NewsCategory> fallback)
{
    if (bytes.size() > maxImportBytes)
        return LibraryRefusal{Reason::fileTooLarge, from, {}};
    std::optional<QList<OpmlEntry>> entries = readOpml(bytes);
    if (!entries)
        return LibraryRefusal{Reason::notOpml, from, {}};
    if (entries->size() > maxImportEntries)
        return LibraryRefusal{Reason::tooManyEntries, from, {}};
    return ImportRequest{std::move(*entries), fallback, from};
}

Library::ImportPlan Library::planImport(const QList<OpmlEntry>& entries, const QList<OwnFeed>& own)
{
    ImportPlan plan;
    QSet<QString> fresh;
    for (qsizetype index = 0; index < entries.size(); ++index) {
        const OpmlEntry& entry = entries.at(index);
        const QUrl url(entry.address, QUrl::StrictMode);
        if (!isFeedAddress(url)) {
            plan.skipped.append({index, {Reason::notFeedAddress, entry.address, {}}});
        } else if (feedWithAddress(own, entry.address)) {
            ++plan.present;
        } else {
            plan.candidates.append({entry, url, index});
            fresh.insert(comparableAddress(entry.address));
        }
    }
    plan.newAddresses = fresh.size();
    return plan;
}

QFuture<ImportOutcome> Library::importFeeds(const ImportRequest& request)
{
    const ImportPlan plan = planImport(request.entries, m_settings.ownFeeds());
    if (m_settings.ownFeeds().size() + plan.newAddresses > AppSettings::maxOwnFeeds)
        return ready(
            ImportOutcome{0, 0, {}, LibraryRefusal{Reason::importPastLimit, request.from, {}}});

    // Skipped entries are told in the order of the file, whenever they were found.
    const auto finish = [present = plan.present](QList<std::pair<qsizetype, LibraryRefusal>> skips,
                                                 qsizetype added) {
        std::stable_sort(skips.begin(), skips.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        ImportOutcome outcome{added, present, {}, std::nullopt};
        for (const auto& skip : skips)
            outcome.skipped.append(skip.second);
        return outcome;
    };
    if (plan.candidates.isEmpty())
        return ready(finish(plan.skipped, 0));

    QList<QFuture<FeedCheck>> checks;
    for (const ImportPlan::Candidate& candidate : plan.candidates)
        checks.append(m_news.check(candidate.url));
    const NewsCategory category = request.fallback.value_or(NewsCategory::cybersecurity);
    return QtFuture::whenAll(checks.begin(), checks.end())
        .then(&m_news, [this, plan, category, finish](const QList<QFuture<FeedCheck>>& done) {
            QList<std::pair<qsizetype, LibraryRefusal>> skipped = plan.skipped;
            qsizetype added = 0;
            const std::optional<LibraryRefusal> locked =
                edit([&]() -> std::optional<LibraryRefusal> {
                    QList<OwnFeed> feeds = m_settings.ownFeeds();
                    // An address listed again is a duplicate only once an earlier listing was
                    // added: when that one failed, the next is tried.
                    QSet<QString> addedHere;
                    for (qsizetype i = 0; i < plan.candidates.size(); ++i) {
                        const ImportPlan::Candidate& candidate = plan.candidates[i];
                        const QString& address = candidate.entry.address;
                        const FeedCheck check = done[i].result();
                        std::optional<LibraryRefusal> refusal;
                        if (addedHere.contains(comparableAddress(address)))
                            refusal = LibraryRefusal{Reason::listedTwice, address, {}};
                        else if (check.refusal)
                            refusal = LibraryRefusal{Reason::unusableFeed, address, *check.refusal};
                        else // the preferences may have changed while the addresses were fetched
                            refusal = refusalToAdd(feeds, address);
                        if (refusal) {
                            skipped.append({candidate.index, *refusal});
                            continue;
                        }
                        feeds.append(newOwnFeed(feeds, candidate.url, candidate.entry.name,
                                                check.title,
                                                candidate.entry.category.value_or(category)));
                        addedHere.insert(comparableAddress(address));
                        ++added;
                    }
                    m_settings.setOwnFeeds(feeds);
                    return std::nullopt;
                });
            if (locked)
                return ImportOutcome{0, 0, {}, locked};
            return finish(skipped, added);
        });
}

std::optional<LibraryRefusal> Library::exportTo(const QString& file, const QString& directory) const
{
    const QString path = absolute(file, directory);
    if (const std::optional<QString> error = writeUserFile(path, exportDocument()))
        return LibraryRefusal{Reason::unwritableFile, path, *error};
    return std::nullopt;
}

QByteArray Library::exportDocument() const
{
    QList<FeedSource> all = FeedSource::catalog();
    for (const OwnFeed& feed : m_settings.ownFeeds())
        all.append(feed.source());
    return writeOpml(all);
}

CommandOutput Library::output(const LibraryRefusal& refusal)
{
    return {refusal.isUnusableFile() ? 2 : 1, {}, describe(refusal) + u'\n'};
}

CommandOutput Library::output(const ImportOutcome& outcome)
{
    if (outcome.refusal)
        return output(*outcome.refusal);
    QString err;
    for (const LibraryRefusal& skip : outcome.skipped)
        err += u"skipped "_qs + describe(skip) + u'\n';
    // Feeds that are there already are no failure: one line says how many.
    if (outcome.present > 0)
        err += QString::number(outcome.present) +
               (outcome.present == 1 ? u" feed listed is"_qs : u" feeds listed are"_qs) +
               u" already among your feeds\n"_qs;
    return {outcome.skipped.isEmpty() ? 0 : 1,
            u"imported "_qs + QString::number(outcome.added) +
                (outcome.added == 1 ? u" feed\n"_qs : u" feeds\n"_qs),
            err};
}

QFuture<CommandOutput> Library::perform(const LibraryRequest& request)
{
    using Action = LibraryRequest::Action;
    // Done, printing nothing; or refused.
    const auto changed = [](const std::optional<LibraryRefusal>& refusal) {
        return ready(refusal ? output(*refusal) : CommandOutput{});
    };
    switch (request.action) {
    case Action::listFeeds:
        return ready(CommandOutput{0, feedLines().join(u'\n') + u'\n', {}});
    case Action::addFeed:
        return addOwnFeed(request.subjects.value(0), request.name, request.category)
            .then([](const std::variant<OwnFeed, LibraryRefusal>& added) {
                if (const auto* refusal = std::get_if<LibraryRefusal>(&added))
                    return output(*refusal);
                return CommandOutput{
                    0, feedLine(std::get<OwnFeed>(added).source(), true) + u'\n', {}};
            });
    case Action::removeFeed:
        return changed(removeOwnFeed(request.subjects.value(0)));
    case Action::switchFeeds:
        return changed(switchFeeds(request.subjects, request.on));
    case Action::importFeeds:
        if (!request.import)
            return ready(CommandOutput{2, {}, u"no feeds to import\n"_qs});
        return importFeeds(*request.import).then([](const ImportOutcome& outcome) {
            return output(outcome);
        });
    case Action::exportFeeds:
        return ready(CommandOutput{0, QString::fromUtf8(exportDocument()), {}});
    case Action::listTerms: {
        QString out;
        for (const QString& term : m_settings.watchTerms())
            out += field(term) + u'\n';
        return ready(CommandOutput{0, out, {}});
    }
    case Action::addTerms:
        return changed(addWatchTerms(request.subjects));
    case Action::removeTerms:
        return changed(removeWatchTerms(request.subjects));
    }
    return ready(CommandOutput{2, {}, u"unknown request\n"_qs});
}

} // namespace vardelle
