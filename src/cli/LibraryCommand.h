#pragma once

#include "library/Library.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <variant>

namespace vardelle::cli {

// `vardelle feeds ...` or `vardelle watch ...` as typed: the request for the library, with an
// import's file already read here.
struct LibraryCommandLine {
    LibraryRequest request;
    // `feeds export FILE`: the file, which this process writes with the document.
    std::optional<QString> exportFile;
};

// The words after `command` ("feeds" or "watch"), file names taken from `directory`; the output
// of a usage error (exit status 2) or of an import's file that cannot be used instead.
std::variant<LibraryCommandLine, CommandOutput>
parseLibraryCommand(const QString& command, const QStringList& arguments, const QString& directory);

// Runs `command` against `library` in this process and waits for it.
CommandOutput runLibraryCommand(Library& library, const LibraryCommandLine& command,
                                const QString& directory);

} // namespace vardelle::cli
