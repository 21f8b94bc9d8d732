#include "library/LibraryCommands.h"

#include "files/UserFile.h"
#include "instance/InstanceProtocol.h"
#include "library/Opml.h"
#include "news/NewsService.h"
#include "news/WatchList.h"
#include "settings/AppSettings.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QJsonArray>
#include <QSet>

#include <algorithm>
#include <memory>
#include <optional>

namespace vardelle {

namespace {

CommandOutput refused(const QString& reason, int status = 1)
{
    return {status, {}, reason + u'\n'};
}

QFuture<CommandOutput> ready(CommandOutput output)
{
    return QtFuture::makeReadyFuture(std::move(output));
}

// A field of a tab-separated line: no tab or line break of its own.
QString field(QString text)
{
    for (QChar& c : text) {
        if (c == u'\t' || c == u'\n' || c == u'\r')
            c = u' ';
    }
    return text;
}

QString feedLine(const FeedSource& source, bool on)
{
    return field(source.id) + u'\t' + field(source.name) + u'\t' + rawValue(source.category) +
           u'\t' + (on ? u"on"_qs : u"off"_qs) + u'\t' +
           field(source.url.toString(QUrl::RemovePassword));
}

// Positional arguments and the values of the options named in `valueOptions` ("--name X" or
// "--name=X"); none, with `error` set, on an unknown option or a missing value.
struct Arguments {
    QStringList positional;
    QHash<QString, QString> options;
};

std::optional<Arguments> splitArguments(const QStringList& arguments,
                                        const QStringList& valueOptions, QString& error)
{
    Arguments split;
    bool optionsEnded = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (optionsEnded || !argument.startsWith(u"--") || argument.size() == 2) {
            if (argument == u"--" && !optionsEnded) {
                optionsEnded = true;
                continue;
            }
            split.positional.append(argument);
            continue;
        }
        const qsizetype equals = argument.indexOf(u'=');
        const QString name = argument.mid(2, equals < 0 ? -1 : equals - 2);
        if (!valueOptions.contains(name)) {
            error = u"unknown option "_qs + argument;
            return std::nullopt;
        }
        if (equals >= 0) {
            split.options.insert(name, argument.mid(equals + 1));
        } else if (i + 1 < arguments.size()) {
            split.options.insert(name, arguments[++i]);
        } else {
            error = u"--"_qs + name + u" needs a value"_qs;
            return std::nullopt;
        }
    }
    return split;
}

// The --category option: none when not given; an error when it names no category.
bool categoryOption(const Arguments& split, std::optional<NewsCategory>& category, QString& error)
{
    const auto it = split.options.constFind(u"category"_qs);
    if (it == split.options.cend())
        return true;
    category = newsCategoryFromRawValue(*it);
    if (!category)
        error = u"--category is one of cybersecurity, threatIntel, malware, not "_qs + *it;
    return category.has_value();
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

std::optional<QString> feedWithAddress(const AppSettings& settings, const QString& address)
{
    return feedWithAddress(settings.customFeeds(), address);
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

CommandOutput locked(const AppSettings& settings)
{
    return refused(u"the preferences cannot be changed now: "_qs + settings.lockError());
}

QString tooManyFeeds()
{
    return u"that would make more than "_qs + QString::number(AppSettings::maxOwnFeeds) +
           u" own feeds, the most Vardelle keeps"_qs;
}

} // namespace

LibraryCommands::LibraryCommands(AppSettings& settings, NewsService& news)
    : m_settings(settings)
    , m_news(news)
{
}

QFuture<CommandOutput> LibraryCommands::run(const QString& command, const QStringList& arguments,
                                            const QString& directory)
{
    if (command == u"feeds")
        return feeds(arguments, directory);
    if (command == u"watch")
        return ready(watch(arguments));
    return ready(refused(u"unknown command "_qs + command, 2));
}

QStringList LibraryCommands::feedLines() const
{
    QStringList lines;
    const QSet<QString> disabled = m_settings.disabledFeedIDs();
    for (const FeedSource& source : FeedSource::catalog())
        lines.append(feedLine(source, !disabled.contains(source.id)));
    for (const OwnFeed& feed : m_settings.customFeeds())
        lines.append(feedLine(feed.source(), feed.enabled));
    return lines;
}

QFuture<CommandOutput> LibraryCommands::feeds(const QStringList& arguments,
                                              const QString& directory)
{
    const QString action = arguments.value(0, u"list"_qs);
    const QStringList rest = arguments.mid(1);
    if (action == u"list") {
        if (!rest.isEmpty())
            return ready(refused(QStringLiteral("feeds list takes no arguments"), 2));
        return ready({0, feedLines().join(u'\n') + u'\n', {}});
    }
    if (action == u"add")
        return add(rest);
    if (action == u"remove") {
        if (rest.size() != 1)
            return ready(refused(QStringLiteral("feeds remove takes one ID or address"), 2));
        return ready(remove(rest.first()));
    }
    if (action == u"on" || action == u"off") {
        if (rest.isEmpty())
            return ready(refused(u"feeds "_qs + action + u" takes one or more feed ids"_qs, 2));
        return ready(switchFeeds(rest, action == u"on"));
    }
    if (action == u"import") {
        CommandOutput refusal;
        const std::optional<ImportRequest> request = importRequest(rest, directory, refusal);
        return request ? importFeeds(*request) : ready(refusal);
    }
    if (action == u"export") {
        if (!rest.isEmpty())
            return ready(exportTo(rest.first(), directory));
        return ready({0, QString::fromUtf8(exportDocument()), {}});
    }
    return ready(refused(u"unknown feeds command "_qs + action, 2));
}

QFuture<CommandOutput> LibraryCommands::add(const QStringList& arguments)
{
    QString error;
    const std::optional<Arguments> split =
        splitArguments(arguments, {u"name"_qs, u"category"_qs}, error);
    std::optional<NewsCategory> category;
    if (!split || !categoryOption(*split, category, error))
        return ready(refused(error, 2));
    if (split->positional.size() != 1)
        return ready(refused(QStringLiteral("feeds add takes one address"), 2));

    const QString address = split->positional.first().trimmed();
    const QUrl url(address, QUrl::StrictMode);
    if (!isFeedAddress(url))
        return ready(refused(address + u": not an http or https address"_qs));
    if (const auto id = feedWithAddress(m_settings, address))
        return ready(refused(address + u": already among your feeds as "_qs + *id));
    if (m_settings.customFeeds().size() >= AppSettings::maxOwnFeeds)
        return ready(refused(address + u": "_qs + tooManyFeeds()));

    const QString name = split->options.value(u"name"_qs);
    const NewsCategory chosen = category.value_or(NewsCategory::cybersecurity);
    return m_news.check(url).then(&m_news, [this, url, address, name, chosen](FeedCheck check) {
        if (check.refusal)
            return refused(address + u": "_qs + *check.refusal);
        CommandOutput output;
        // The preferences may have changed while the address was fetched.
        const bool done = m_settings.update([&] {
            if (const auto id = feedWithAddress(m_settings, address)) {
                output = refused(address + u": already among your feeds as "_qs + *id);
                return;
            }
            QList<OwnFeed> feeds = m_settings.customFeeds();
            if (feeds.size() >= AppSettings::maxOwnFeeds) {
                output = refused(address + u": "_qs + tooManyFeeds());
                return;
            }
            const OwnFeed feed = newOwnFeed(feeds, url, name, check.title, chosen);
            feeds.append(feed);
            m_settings.setCustomFeeds(feeds);
            output = {0, feedLine(feed.source(), true) + u'\n', {}};
        });
        return done ? output : locked(m_settings);
    });
}

CommandOutput LibraryCommands::remove(const QString& which)
{
    CommandOutput output;
    if (!m_settings.update([&] { output = removeNow(which); }))
        return locked(m_settings);
    return output;
}

CommandOutput LibraryCommands::removeNow(const QString& which)
{
    QList<OwnFeed> feeds = m_settings.customFeeds();
    const QString address = comparableAddress(which);
    for (qsizetype i = 0; i < feeds.size(); ++i) {
        if (feeds[i].id == which || comparableAddress(feeds[i].url.toString()) == address) {
            feeds.removeAt(i);
            m_settings.setCustomFeeds(feeds);
            return {};
        }
    }
    for (const FeedSource& source : FeedSource::catalog()) {
        if (source.id == which || comparableAddress(source.url.toString()) == address)
            return refused(source.id +
                           u" is a catalogue feed, which stays; 'vardelle feeds off "_qs +
                           source.id + u"' switches it off"_qs);
    }
    return refused(which + u": no such feed"_qs);
}

CommandOutput LibraryCommands::switchFeeds(const QStringList& ids, bool on)
{
    CommandOutput output;
    if (!m_settings.update([&] { output = switchFeedsNow(ids, on); }))
        return locked(m_settings);
    return output;
}

CommandOutput LibraryCommands::switchFeedsNow(const QStringList& ids, bool on)
{
    QSet<QString> disabled = m_settings.disabledFeedIDs();
    QList<OwnFeed> feeds = m_settings.customFeeds();
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
            return refused(id + u": no such feed"_qs);
        own->enabled = on;
        ownTouched = true;
    }
    if (catalogueTouched)
        m_settings.setDisabledFeedIDs(disabled);
    if (ownTouched)
        m_settings.setCustomFeeds(feeds);
    return {};
}

std::optional<LibraryCommands::ImportRequest>
LibraryCommands::importRequest(const QStringList& arguments, const QString& directory,
                               CommandOutput& refusal)
{
    QString error;
    const std::optional<Arguments> split = splitArguments(arguments, {u"category"_qs}, error);
    ImportRequest request;
    if (!split || !categoryOption(*split, request.fallback, error)) {
        refusal = refused(error, 2);
        return std::nullopt;
    }
    if (split->positional.size() != 1) {
        refusal = refused(QStringLiteral("feeds import takes one file"), 2);
        return std::nullopt;
    }
    const QString name = split->positional.first();
    request.from = name == u"-" ? u"standard input"_qs : absolute(name, directory);
    const UserFileRead read = readUserFile(name == u"-" ? name : request.from, maxImportBytes);
    if (!read.bytes) {
        refusal = refused(request.from + u": "_qs + read.error, 2);
        return std::nullopt;
    }
    return importFromBytes(*read.bytes, request.from, request.fallback, refusal);
}

std::optional<LibraryCommands::ImportRequest>
LibraryCommands::importFromBytes(const QByteArray& bytes, const QString& from,
                                 std::optional<NewsCategory> fallback, CommandOutput& refusal)
{
    if (bytes.size() > maxImportBytes) {
        refusal = refused(from + u": larger than 16 MiB"_qs, 2);
        return std::nullopt;
    }
    std::optional<QList<OpmlEntry>> entries = readOpml(bytes);
    if (!entries) {
        refusal = refused(from + u": not an OPML document"_qs, 2);
        return std::nullopt;
    }
    if (entries->size() > maxImportEntries) {
        refusal = refused(from + u": nothing imported: it lists more than "_qs +
                          QString::number(maxImportEntries) + u" feeds"_qs);
        return std::nullopt;
    }
    return ImportRequest{std::move(*entries), fallback, from};
}

QJsonObject LibraryCommands::importMessage(const ImportRequest& request)
{
    QJsonArray entries;
    for (const OpmlEntry& entry : request.entries) {
        QJsonObject object{{u"address"_qs, entry.address}, {u"name"_qs, entry.name}};
        if (entry.category)
            object.insert(instance::categoryKey, rawValue(*entry.category));
        entries.append(object);
    }
    QJsonObject message{{instance::commandKey, instance::feedsImportCommand},
                        {instance::entriesKey, entries},
                        {instance::fromKey, request.from}};
    if (request.fallback)
        message.insert(instance::categoryKey, rawValue(*request.fallback));
    return message;
}

std::optional<LibraryCommands::ImportRequest>
LibraryCommands::importFromMessage(const QJsonObject& message)
{
    // A category that is missing is none; one that is there must name a category.
    const auto category = [](const QJsonValue& value, std::optional<NewsCategory>& into) {
        if (value.isUndefined())
            return true;
        into = value.isString() ? newsCategoryFromRawValue(value.toString()) : std::nullopt;
        return into.has_value();
    };
    const QJsonValue entries = message.value(instance::entriesKey);
    const QJsonValue from = message.value(instance::fromKey);
    ImportRequest request;
    if (!entries.isArray() || !from.isString() || entries.toArray().size() > maxImportEntries ||
        !category(message.value(instance::categoryKey), request.fallback))
        return std::nullopt;
    request.from = from.toString();
    for (const QJsonValue& element : entries.toArray()) {
        const QJsonObject object = element.toObject();
        const QJsonValue address = object.value(u"address");
        const QJsonValue name = object.value(u"name");
        OpmlEntry entry;
        if (!element.isObject() || !address.isString() || !name.isString() ||
            !category(object.value(instance::categoryKey), entry.category))
            return std::nullopt;
        entry.address = address.toString();
        entry.name = name.toString();
        request.entries.append(std::move(entry));
    }
    return request;
}

LibraryCommands::ImportPlan LibraryCommands::planImport(const QList<OpmlEntry>& entries,
                                                        const QList<OwnFeed>& own)
{
    ImportPlan plan;
    QSet<QString> fresh;
    for (qsizetype index = 0; index < entries.size(); ++index) {
        const OpmlEntry& entry = entries.at(index);
        const QUrl url(entry.address, QUrl::StrictMode);
        if (!isFeedAddress(url)) {
            plan.skipped.append({index, entry.address + u": not an http or https address"_qs});
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

std::optional<LibraryCommands::Request>
LibraryCommands::requestFromMessage(const QJsonObject& message, QString& error)
{
    Request request;
    request.command = message.value(instance::commandKey).toString();
    if (request.command == instance::feedsImportCommand) {
        request.import = importFromMessage(message);
        if (!request.import) {
            error = QStringLiteral("\"entries\" is a list of feeds with an address and a name, "
                                   "and \"from\" a text");
            return std::nullopt;
        }
        return request;
    }
    if (request.command != instance::feedsCommand && request.command != instance::watchCommand) {
        error = QStringLiteral("unknown command");
        return std::nullopt;
    }
    const QJsonValue arguments = message.value(instance::argumentsKey);
    const QJsonValue directory = message.value(instance::directoryKey);
    bool wellFormed = (arguments.isArray() || arguments.isUndefined()) &&
                      (directory.isString() || directory.isUndefined());
    for (const QJsonValue& argument : arguments.toArray()) {
        wellFormed = wellFormed && argument.isString();
        request.arguments.append(argument.toString());
    }
    if (!wellFormed) {
        error = QStringLiteral("\"arguments\" is a list of texts and \"directory\" a text");
        return std::nullopt;
    }
    // Files are read and written by the terminal that names them, never here: an import
    // arrives as the feeds the file lists, an export leaves as the document.
    const QString action = request.arguments.value(0);
    if (request.command == instance::feedsCommand &&
        (action == u"import" || (action == u"export" && request.arguments.size() > 1))) {
        error =
            QStringLiteral("the terminal reads and writes the files of feeds import and export");
        return std::nullopt;
    }
    request.directory = directory.toString();
    return request;
}

QFuture<CommandOutput> LibraryCommands::run(const Request& request)
{
    if (request.import)
        return importFeeds(*request.import);
    return run(request.command, request.arguments, request.directory);
}

QFuture<CommandOutput> LibraryCommands::importFeeds(const ImportRequest& request)
{
    const QString& path = request.from;
    const std::optional<NewsCategory>& fallback = request.fallback;

    const ImportPlan plan = planImport(request.entries, m_settings.customFeeds());
    const QList<ImportPlan::Candidate>& candidates = plan.candidates;
    auto skipped = std::make_shared<QList<std::pair<qsizetype, QString>>>(plan.skipped);
    if (m_settings.customFeeds().size() + plan.newAddresses > AppSettings::maxOwnFeeds)
        return ready(refused(path + u": nothing imported: "_qs + tooManyFeeds()));

    // Feeds that are there already are no failure: one line says how many.
    const qsizetype present = plan.present;
    const auto finish = [present](QList<std::pair<qsizetype, QString>> skips, qsizetype added) {
        std::stable_sort(skips.begin(), skips.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        QString err;
        for (const auto& skip : skips)
            err += u"skipped "_qs + skip.second + u'\n';
        if (present > 0)
            err += QString::number(present) +
                   (present == 1 ? u" feed listed is"_qs : u" feeds listed are"_qs) +
                   u" already among your feeds\n"_qs;
        return CommandOutput{skips.isEmpty() ? 0 : 1,
                             u"imported "_qs + QString::number(added) +
                                 (added == 1 ? u" feed\n"_qs : u" feeds\n"_qs),
                             err};
    };
    if (candidates.isEmpty())
        return ready(finish(*skipped, 0));

    QList<QFuture<FeedCheck>> checks;
    for (const ImportPlan::Candidate& candidate : candidates)
        checks.append(m_news.check(candidate.url));
    const NewsCategory category = fallback.value_or(NewsCategory::cybersecurity);
    return QtFuture::whenAll(checks.begin(), checks.end())
        .then(&m_news, [this, candidates, skipped, category,
                        finish](const QList<QFuture<FeedCheck>>& done) {
            qsizetype added = 0;
            const bool stored = m_settings.update([&] {
                QList<OwnFeed> feeds = m_settings.customFeeds();
                // An address listed again is a duplicate only once an earlier listing was added:
                // when that one failed, the next is tried.
                QSet<QString> addedHere;
                for (qsizetype i = 0; i < candidates.size(); ++i) {
                    const OpmlEntry& entry = candidates[i].entry;
                    const FeedCheck check = done[i].result();
                    const qsizetype index = candidates[i].index;
                    const QString key = comparableAddress(entry.address);
                    if (addedHere.contains(key)) {
                        skipped->append({index, entry.address + u": listed twice in the file"_qs});
                        continue;
                    }
                    if (check.refusal) {
                        skipped->append({index, entry.address + u": "_qs + *check.refusal});
                        continue;
                    }
                    // The preferences may have changed while the addresses were fetched.
                    if (const auto id = feedWithAddress(feeds, entry.address)) {
                        skipped->append(
                            {index, entry.address + u": already among your feeds as "_qs + *id});
                        continue;
                    }
                    if (feeds.size() >= AppSettings::maxOwnFeeds) {
                        skipped->append({index, entry.address + u": "_qs + tooManyFeeds()});
                        continue;
                    }
                    feeds.append(newOwnFeed(feeds, candidates[i].url, entry.name, check.title,
                                            entry.category.value_or(category)));
                    addedHere.insert(key);
                    ++added;
                }
                m_settings.setCustomFeeds(feeds);
            });
            return stored ? finish(*skipped, added) : locked(m_settings);
        });
}

CommandOutput LibraryCommands::exportTo(const QString& file, const QString& directory) const
{
    const QString path = absolute(file, directory);
    if (const std::optional<QString> error = writeUserFile(path, exportDocument()))
        return refused(path + u": "_qs + *error, 2);
    return {};
}

QByteArray LibraryCommands::exportDocument() const
{
    QList<FeedSource> all = FeedSource::catalog();
    for (const OwnFeed& feed : m_settings.customFeeds())
        all.append(feed.source());
    return writeOpml(all);
}

CommandOutput LibraryCommands::watch(const QStringList& arguments)
{
    if (arguments.value(0, u"list"_qs) == u"list")
        return watchNow(arguments);
    CommandOutput output;
    if (!m_settings.update([&] { output = watchNow(arguments); }))
        return locked(m_settings);
    return output;
}

CommandOutput LibraryCommands::watchNow(const QStringList& arguments)
{
    const QString action = arguments.value(0, u"list"_qs);
    const QStringList terms = arguments.mid(1);
    QStringList stored = m_settings.watchTerms();
    const auto indexOf = [](const QStringList& list, const QString& term) {
        const QString wanted = WatchList::comparable(term).trimmed();
        for (qsizetype i = 0; i < list.size(); ++i) {
            if (WatchList::comparable(list[i]).trimmed() == wanted)
                return i;
        }
        return qsizetype(-1);
    };

    if (action == u"list") {
        if (!terms.isEmpty())
            return refused(QStringLiteral("watch list takes no arguments"), 2);
        QString out;
        for (const QString& term : stored)
            out += field(term) + u'\n';
        return {0, out, {}};
    }
    if (action == u"add") {
        if (terms.isEmpty())
            return refused(QStringLiteral("watch add takes one or more terms"), 2);
        for (const QString& term : terms) {
            if (!AppSettings::isValidWatchTerm(term))
                return refused(u"'"_qs + term + u"': a term is 1 to "_qs +
                               QString::number(AppSettings::maxTermLength) +
                               u" characters; nothing added"_qs);
            if (indexOf(stored, term) >= 0)
                return refused(u"'"_qs + term +
                               u"' is already on the watch list; nothing added"_qs);
            stored.append(term.trimmed()); // shown and matched without its outer spaces
        }
        if (stored.size() > AppSettings::maxWatchTerms)
            return refused(u"that would make more than "_qs +
                           QString::number(AppSettings::maxWatchTerms) +
                           u" terms, the most Vardelle keeps; nothing added"_qs);
        m_settings.setWatchTerms(stored);
        return {};
    }
    if (action == u"remove") {
        if (terms.isEmpty())
            return refused(QStringLiteral("watch remove takes one or more terms"), 2);
        for (const QString& term : terms) {
            const qsizetype index = indexOf(stored, term);
            if (index < 0)
                return refused(u"'"_qs + term + u"' is not on the watch list; nothing removed"_qs);
            stored.removeAt(index);
        }
        m_settings.setWatchTerms(stored);
        return {};
    }
    return refused(u"unknown watch command "_qs + action, 2);
}

} // namespace vardelle
