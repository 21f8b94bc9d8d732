#include "library/LibraryRequest.h"

#include "instance/InstanceProtocol.h"

#include <QJsonArray>

#include <array>
#include <utility>

namespace vardelle {

namespace {

using Action = LibraryRequest::Action;

// Each action's command and its word in the protocol, as the command line spells it.
struct ActionName {
    Action action;
    const QString& command;
    QStringView word;
};

const std::array<ActionName, 9>& actionNames()
{
    static const std::array<ActionName, 9> names{{
        {Action::listFeeds, instance::feedsCommand, u"list"},
        {Action::addFeed, instance::feedsCommand, u"add"},
        {Action::removeFeed, instance::feedsCommand, u"remove"},
        {Action::switchFeeds, instance::feedsCommand, u"switch"},
        {Action::exportFeeds, instance::feedsCommand, u"export"},
        {Action::importFeeds, instance::feedsImportCommand, u""},
        {Action::listTerms, instance::watchCommand, u"list"},
        {Action::addTerms, instance::watchCommand, u"add"},
        {Action::removeTerms, instance::watchCommand, u"remove"},
    }};
    return names;
}

// A category that is missing is none; one that is there must name a category.
bool readCategory(const QJsonValue& value, std::optional<NewsCategory>& into)
{
    if (value.isUndefined())
        return true;
    into = value.isString() ? newsCategoryFromIdentifier(value.toString()) : std::nullopt;
    return into.has_value();
}

QJsonObject importMessage(const ImportRequest& request)
{
    QJsonArray entries;
    for (const OpmlEntry& entry : request.entries) {
        QJsonObject object{{u"address"_qs, entry.address}, {u"name"_qs, entry.name}};
        if (entry.category)
            object.insert(instance::categoryKey, identifier(*entry.category));
        entries.append(object);
    }
    QJsonObject message{{instance::commandKey, instance::feedsImportCommand},
                        {instance::entriesKey, entries},
                        {instance::fromKey, request.from}};
    if (request.fallback)
        message.insert(instance::categoryKey, identifier(*request.fallback));
    return message;
}

std::optional<ImportRequest> importFromMessage(const QJsonObject& message)
{
    const QJsonValue entries = message.value(instance::entriesKey);
    const QJsonValue from = message.value(instance::fromKey);
    ImportRequest request;
    if (!entries.isArray() || !from.isString() ||
        entries.toArray().size() > ImportRequest::maxEntries ||
        !readCategory(message.value(instance::categoryKey), request.fallback))
        return std::nullopt;
    request.from = from.toString();
    for (const QJsonValue& element : entries.toArray()) {
        const QJsonObject object = element.toObject();
        const QJsonValue address = object.value(u"address");
        const QJsonValue name = object.value(u"name");
        OpmlEntry entry;
        if (!element.isObject() || !address.isString() || !name.isString() ||
            !readCategory(object.value(instance::categoryKey), entry.category))
            return std::nullopt;
        entry.address = address.toString();
        entry.name = name.toString();
        request.entries.append(std::move(entry));
    }
    return request;
}

} // namespace

QJsonObject libraryMessage(const LibraryRequest& request)
{
    if (request.action == Action::importFeeds)
        return importMessage(request.import.value_or(ImportRequest{}));
    QJsonObject message;
    for (const ActionName& name : actionNames()) {
        if (name.action == request.action) {
            message.insert(instance::commandKey, name.command);
            message.insert(instance::actionKey, name.word.toString());
        }
    }
    if (!request.subjects.isEmpty())
        message.insert(instance::subjectsKey, QJsonArray::fromStringList(request.subjects));
    if (request.action == Action::addFeed) {
        message.insert(instance::nameKey, request.name);
        message.insert(instance::categoryKey, identifier(request.category));
    }
    if (request.action == Action::switchFeeds)
        message.insert(instance::onKey, request.on);
    return message;
}

std::optional<LibraryRequest> libraryRequestFromMessage(const QJsonObject& message, QString& error)
{
    LibraryRequest request;
    const QString command = message.value(instance::commandKey).toString();
    if (command == instance::feedsImportCommand) {
        request.action = Action::importFeeds;
        request.import = importFromMessage(message);
        if (!request.import) {
            error = QStringLiteral("\"entries\" is a list of feeds with an address and a name, "
                                   "and \"from\" a text");
            return std::nullopt;
        }
        return request;
    }
    const QJsonValue action = message.value(instance::actionKey);
    const auto named =
        std::find_if(actionNames().cbegin(), actionNames().cend(), [&](const ActionName& name) {
            return name.command == command && !name.word.isEmpty() && action.isString() &&
                   name.word == action.toString();
        });
    if (named == actionNames().cend()) {
        error = command == instance::feedsCommand || command == instance::watchCommand
                    ? QStringLiteral("\"action\" names no such change")
                    : QStringLiteral("unknown command");
        return std::nullopt;
    }
    request.action = named->action;

    const QJsonValue subjects = message.value(instance::subjectsKey);
    const QJsonValue name = message.value(instance::nameKey);
    const QJsonValue on = message.value(instance::onKey);
    std::optional<NewsCategory> category;
    bool wellFormed = (subjects.isArray() || subjects.isUndefined()) &&
                      (name.isString() || name.isUndefined()) &&
                      (on.isBool() || on.isUndefined()) &&
                      readCategory(message.value(instance::categoryKey), category);
    for (const QJsonValue& subject : subjects.toArray()) {
        wellFormed = wellFormed && subject.isString();
        request.subjects.append(subject.toString());
    }
    // Every change names what it changes: one feed to add or remove, one or more to switch,
    // one or more terms.
    const bool one = request.action == Action::addFeed || request.action == Action::removeFeed;
    const bool some = request.action == Action::switchFeeds || request.action == Action::addTerms ||
                      request.action == Action::removeTerms;
    if (!wellFormed || (one && request.subjects.size() != 1) ||
        (some && request.subjects.isEmpty()) || (!one && !some && !request.subjects.isEmpty())) {
        error = QStringLiteral("\"subjects\" is a list of texts as the change needs, \"name\" a "
                               "text, \"category\" a category and \"on\" true or false");
        return std::nullopt;
    }
    request.name = name.toString();
    request.category = category.value_or(NewsCategory::cybersecurity);
    request.on = on.toBool(true);
    return request;
}

} // namespace vardelle
