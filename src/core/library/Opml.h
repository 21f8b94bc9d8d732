#pragma once

#include "news/FeedSource.h"
#include "news/NewsCategory.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

namespace vardelle {

// One feed outline of an OPML document.
struct OpmlEntry {
    QString address; // the outline's xmlUrl, trimmed
    QString name;    // its title, else its text; may be empty
    // The category of the nearest enclosing outline whose text or title names one (a identifier or
    // a category's display title, ignoring case); none when no enclosing outline does.
    std::optional<NewsCategory> category;
};

// The feed outlines of an OPML document (any outline with an xmlUrl attribute), in document
// order. None when the bytes are not a well-formed document whose root element is "opml".
std::optional<QList<OpmlEntry>> readOpml(const QByteArray& document);

// An OPML 2.0 document with one outline per category, in category order, whose text is the
// category's identifier, holding an outline of type "rss" for each of `feeds` of that category,
// in the given order.
QByteArray writeOpml(const QList<FeedSource>& feeds);

} // namespace vardelle
