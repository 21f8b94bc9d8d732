#pragma once

#include "news/NewsItem.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <bitset>
#include <optional>

namespace vardelle {

// The user's watch terms, ready to be looked for in stories. A story matches a term when the term
// occurs in its title or summary as whole words: ignoring case (Unicode simple case folding, one
// character for one: "STRASSE" does not match "Straße", nor "istanbul" "İstanbul"), and with no
// letter, digit or combining mark directly before or after it ("Ivanti" is found in "Ivanti's",
// "Ivantiʼs" and "ivanti", not in "Ivantis").
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
    // Lowers `best` to the index of the first term found in `text`, when lower; `best` carries
    // the lowest index found so far across the fields of one item.
    void find(QStringView text, qsizetype& best) const;
    // qHash of the comparable form of one word (letters and digits only).
    static size_t foldedWordHash(QStringView word);

    QStringList m_terms;  // as typed, in list order
    QStringList m_folded; // comparable form, parallel to m_terms
    // Terms by the first word they start with; terms that do not start with a letter or digit
    // are searched for one by one.
    QMultiHash<size_t, qsizetype> m_byFirstWord; // by the hash of that first word
    QList<qsizetype> m_unanchored;
    std::bitset<0x10000> m_firstUnits; // the first UTF-16 unit of each anchored term
    qsizetype m_window = 0;            // how much of a text after a word start is folded to compare
};

} // namespace vardelle
