#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace vardelle::bench {

// The publishers' documents of the shared corpus (the folder VARDELLE_CORPUS names, else the one
// the build was configured with). Sets `folder` to where they were looked for.
QList<QByteArray> publisherDocuments(QString* folder = nullptr);

// Whether expat's namespace parser, with no handlers, accepts the whole document.
bool expatAccepts(const QByteArray& document);

// One RSS document of at least `size` bytes made of the <item> elements of `documents`, taken in
// turn (those that still parse once moved into it). Empty when the documents hold no such item.
QByteArray largeFeedOf(const QList<QByteArray>& documents, qsizetype size);

} // namespace vardelle::bench
