#include "library/LibraryRefusal.h"

#include "library/LibraryRequest.h"
#include "settings/AppSettings.h"

namespace vardelle {

namespace {

QString tooManyFeeds()
{
    return u"that would make more than "_qs + QString::number(AppSettings::maxOwnFeeds) +
           u" own feeds, the most Vardelle keeps"_qs;
}

} // namespace

bool LibraryRefusal::isUnusableFile() const
{
    switch (reason) {
    case Reason::unreadableFile:
    case Reason::notOpml:
    case Reason::fileTooLarge:
    case Reason::unwritableFile:
        return true;
    default:
        return false;
    }
}

QString describe(const LibraryRefusal& refusal)
{
    using Reason = LibraryRefusal::Reason;
    const QString& subject = refusal.subject;
    switch (refusal.reason) {
    case Reason::notFeedAddress:
        return subject + u": not an http or https address"_qs;
    case Reason::alreadyPresent:
        return subject + u": already among your feeds as "_qs + refusal.detail;
    case Reason::tooManyFeeds:
        return subject + u": "_qs + tooManyFeeds();
    case Reason::unusableFeed:
    case Reason::unreadableFile:
    case Reason::unwritableFile:
        return subject + u": "_qs + refusal.detail;
    case Reason::listedTwice:
        return subject + u": listed twice in the file"_qs;
    case Reason::noSuchFeed:
        return subject + u": no such feed"_qs;
    case Reason::catalogueFeed:
        return subject + u" is a catalogue feed, which stays; 'vardelle feeds off "_qs + subject +
               u"' switches it off"_qs;
    case Reason::invalidTerm:
        return u"'"_qs + subject + u"': a term is 1 to "_qs +
               QString::number(AppSettings::maxTermLength) + u" characters; nothing added"_qs;
    case Reason::termPresent:
        return u"'"_qs + subject + u"' is already on the watch list; nothing added"_qs;
    case Reason::tooManyTerms:
        return u"that would make more than "_qs + QString::number(AppSettings::maxWatchTerms) +
               u" terms, the most Vardelle keeps; nothing added"_qs;
    case Reason::termAbsent:
        return u"'"_qs + subject + u"' is not on the watch list; nothing removed"_qs;
    case Reason::preferencesLocked:
        return u"the preferences cannot be changed now: "_qs + refusal.detail;
    case Reason::notOpml:
        return subject + u": not an OPML document"_qs;
    case Reason::fileTooLarge:
        return subject + u": larger than 16 MiB"_qs;
    case Reason::tooManyEntries:
        return subject + u": nothing imported: it lists more than "_qs +
               QString::number(ImportRequest::maxEntries) + u" feeds"_qs;
    case Reason::entriesTooLong:
        return subject + u": nothing imported: its entries are too long"_qs;
    case Reason::importPastLimit:
        return subject + u": nothing imported: "_qs + tooManyFeeds();
    }
    return subject;
}

} // namespace vardelle
