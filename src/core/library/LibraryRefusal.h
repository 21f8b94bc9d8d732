#pragma once

#include <QString>

namespace vardelle {

// Why a change to the library was refused, and what it names: a reason, its subject (an
// address, a feed id, a term or a file, as the user gave it) and, for some reasons, a detail.
// describe() words it; the command line prints that, the settings window shows it.
struct LibraryRefusal {
    enum class Reason {
        notFeedAddress,    // subject: the address
        alreadyPresent,    // subject: the address; detail: the id of the feed that has it
        tooManyFeeds,      // subject: the address
        unusableFeed,      // subject: the address; detail: why fetching it failed
        listedTwice,       // subject: the address, listed again in an import
        noSuchFeed,        // subject: the id or address
        catalogueFeed,     // subject: the catalogue feed's id, which cannot be removed
        invalidTerm,       // subject: the term
        termPresent,       // subject: the term
        tooManyTerms,      // no subject
        termAbsent,        // subject: the term
        preferencesLocked, // detail: why the preference file cannot be changed
        unreadableFile,    // subject: the file; detail: why
        notOpml,           // subject: the file
        fileTooLarge,      // subject: the file
        tooManyEntries,    // subject: the file
        entriesTooLong,    // subject: the file, whose entries do not fit one request
        importPastLimit,   // subject: the file, whose feeds would pass the limit of own feeds
        unwritableFile,    // subject: the file; detail: why
    };

    Reason reason;
    QString subject;
    QString detail;

    bool operator==(const LibraryRefusal&) const = default;

    // Whether the refusal is of a file that cannot be used rather than of the change it holds.
    bool isUnusableFile() const;
};

// The refusal in one line, as the user reads it.
QString describe(const LibraryRefusal& refusal);

} // namespace vardelle
