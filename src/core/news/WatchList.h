#pragma once

#include "news/NewsItem.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <optional>

namespace vardelle {

// The user's watch terms, ready to be looked for in stories. A story matches a term when the term
// occurs in its title or summary as whole words: ignoring case, and with no letter or digit
// directly before or after it ("Ivanti" is found in "Ivanti's" and "ivanti", not in "Ivantis").
// Runs of white space count as one space, and typographic apostrophes and hyphens as the plain
// ones, on both sides. Terms are compared as trimmed; an empty term matches nothing.
//
// A value: cheap to copy, safe to use from any thread once made.
class WatchList {
public:
    WatchList() = default;
    explicit WatchList(const QStringList& terms);

    bool isEmpty() const { return m_terms.isEmpty(); }
    const QStringList& terms() const { return m_terms; }

    // The first term, in list order, that `item` matches, as the user typed it; none when it
    // matches no term.
    std::optional<QString> match(const NewsItem& item) const;
    // The first term found in `text` alone.
    std::optional<QString> match(QStringView text) const;

    // The form in which terms and texts are compared: case folded, white space runs as one
    // space, curly apostrophes and dashes inside words as the plain ones.
    static QString comparable(QStringView text);

private:
    // Index of the first matching term in `folded`, or -1; `best` is the lowest index seen so
    // far across the fields of one item.
    void find(const QString& folded, qsizetype& best) const;

    QStringList m_terms;  // as typed, in list order
    QStringList m_folded; // comparable form, parallel to m_terms
    // Terms by the first word they start with; terms that do not start with a letter or digit
    // are searched for one by one.
    QMultiHash<size_t, qsizetype> m_byFirstWord; // by the hash of that first word
    QList<qsizetype> m_unanchored;
};

} // namespace vardelle
