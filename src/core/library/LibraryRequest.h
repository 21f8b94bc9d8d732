#pragma once

#include "library/Opml.h"
#include "news/NewsCategory.h"

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace vardelle {

// The feeds of an OPML file to import.
struct ImportRequest {
    static constexpr qsizetype maxEntries = 1000;

    QList<OpmlEntry> entries;
    std::optional<NewsCategory> fallback; // for entries whose outline names no category
    QString from;                         // the file, as messages name it
};

// One thing asked of the library by `vardelle feeds` or `vardelle watch`, with its words already
// parsed: what the terminal runs itself, or sends to the running desktop instance to run there.
struct LibraryRequest {
    enum class Action {
        listFeeds,
        addFeed,     // subjects: the address; name, category
        removeFeed,  // subjects: the id or address
        switchFeeds, // subjects: the ids; on
        importFeeds, // import
        exportFeeds, // the document, to standard output
        listTerms,
        addTerms,    // subjects: the terms
        removeTerms, // subjects: the terms
    };

    Action action = Action::listFeeds;
    QStringList subjects;
    QString name;
    NewsCategory category = NewsCategory::cybersecurity;
    bool on = true;
    std::optional<ImportRequest> import;
};

// The request as one message of the instance protocol, and back: none, with `error` set, unless
// every part has its kind (texts, categories that are keys, at most ImportRequest::maxEntries
// entries), and never one that would have the serving process open a file.
QJsonObject libraryMessage(const LibraryRequest& request);
std::optional<LibraryRequest> libraryRequestFromMessage(const QJsonObject& message, QString& error);

} // namespace vardelle
