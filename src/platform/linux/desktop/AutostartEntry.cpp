#include "linux/desktop/AutostartEntry.h"

#include "files/AtomicFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QStandardPaths>
#include <QStringList>

#include <cerrno>
#include <sys/stat.h>
#include <sys/types.h>

namespace vardelle {

namespace {

const QString entryFileName = QStringLiteral("vardelle.desktop");

// ---------------------------------------------------------------------------------------------
// Desktop Entry text: a value is escaped once for the file (\s \n \t \r \\), and an Exec value
// is in addition a command line whose arguments may be double-quoted, with \" \` \$ \\ escaped
// inside the quotes and every literal % written %%.

QString escapeValue(const QString& value)
{
    QString escaped;
    escaped.reserve(value.size());
    for (const QChar c : value) {
        switch (c.unicode()) {
        case u'\\':
            escaped += QStringLiteral("\\\\");
            break;
        case u'\n':
            escaped += QStringLiteral("\\n");
            break;
        case u'\t':
            escaped += QStringLiteral("\\t");
            break;
        case u'\r':
            escaped += QStringLiteral("\\r");
            break;
        default:
            escaped += c;
        }
    }
    return escaped;
}

QString unescapeValue(QStringView value)
{
    QString plain;
    plain.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value[i];
        if (c != u'\\' || i + 1 == value.size()) {
            plain += c;
            continue;
        }
        switch (value[++i].unicode()) {
        case u's':
            plain += u' ';
            break;
        case u'n':
            plain += u'\n';
            break;
        case u't':
            plain += u'\t';
            break;
        case u'r':
            plain += u'\r';
            break;
        case u'\\':
            plain += u'\\';
            break;
        default: // not an escape the format knows: kept as written
            plain += c;
            plain += value[i];
        }
    }
    return plain;
}

// One program path as the whole of an Exec value, quoted so that no character of it is read as
// a separator, a field code or anything a shell would expand.
QString execValue(const QString& program)
{
    QString quoted = QStringLiteral("\"");
    for (const QChar c : program) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            quoted += u'\\';
        quoted += c;
        if (c == u'%')
            quoted += u'%';
    }
    quoted += u'"';
    return escapeValue(quoted);
}

// The program an Exec value starts: its first argument, unquoted. Empty when there is none.
QString execProgram(const QString& exec)
{
    const QString line = unescapeValue(exec).trimmed();
    QString program;
    bool quoted = false;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const QChar c = line[i];
        if (c == u'%' && i + 1 < line.size() && line[i + 1] == u'%') {
            program += u'%';
            ++i;
        } else if (quoted) {
            if (c == u'"')
                quoted = false;
            else if (c == u'\\' && i + 1 < line.size())
                program += line[++i];
            else
                program += c;
        } else if (c == u'"') {
            quoted = true;
        } else if (c == u' ' || c == u'\t') {
            break;
        } else {
            program += c;
        }
    }
    return program;
}

// The keys of the [Desktop Entry] group, values still escaped; the first of a repeated key
// counts.
QHash<QString, QString> readEntry(const QByteArray& text)
{
    QHash<QString, QString> keys;
    bool inEntry = false;
    for (const QByteArray& rawLine : text.split('\n')) {
        const QString line = QString::fromUtf8(rawLine).trimmed();
        if (line.isEmpty() || line.startsWith(u'#'))
            continue;
        if (line.startsWith(u'[')) {
            inEntry = line == u"[Desktop Entry]";
            continue;
        }
        const qsizetype equals = line.indexOf(u'=');
        if (!inEntry || equals <= 0)
            continue;
        const QString key = line.left(equals).trimmed();
        if (!keys.contains(key))
            keys.insert(key, line.mid(equals + 1).trimmed());
    }
    return keys;
}

bool programExists(const QString& program)
{
    if (program.isEmpty())
        return false;
    if (QDir::isAbsolutePath(program))
        return QFileInfo(program).isFile();
    return !QStandardPaths::findExecutable(program).isEmpty();
}

struct Inspection {
    AutostartStatus status = AutostartStatus::disabled;
    QString program; // what the entry starts, as written
};

Inspection inspect(const QString& path)
{
    QFile file(path);
    if (!file.exists())
        return {};
    if (!file.open(QIODevice::ReadOnly))
        return {AutostartStatus::programMissing, {}};
    const QHash<QString, QString> keys = readEntry(file.read(64 * 1024));
    Inspection result{AutostartStatus::enabled, execProgram(keys.value(QStringLiteral("Exec")))};
    if (keys.value(QStringLiteral("Hidden")) == u"true" ||
        keys.value(QStringLiteral("X-GNOME-Autostart-enabled")) == u"false")
        result.status = AutostartStatus::disabled;
    else if (!programExists(result.program))
        result.status = AutostartStatus::programMissing;
    return result;
}

// Makes `path` and any missing parent; none when it is a folder afterwards, else why not.
std::optional<QString> makeFolder(const QString& path)
{
    const QFileInfo info(path);
    if (info.isDir())
        return std::nullopt;
    const QString parent = info.absolutePath();
    if (parent != info.absoluteFilePath()) {
        if (std::optional<QString> error = makeFolder(parent))
            return error;
    }
    if (::mkdir(QFile::encodeName(path).constData(), 0700) == 0)
        return std::nullopt;
    int error = errno;
    if (error == EEXIST) {
        if (QFileInfo(path).isDir())
            return std::nullopt;
        error = ENOTDIR; // something that is not a folder holds the name
    }
    return QStringLiteral("Could not create the folder “%1”: %2.")
        .arg(QDir::toNativeSeparators(path), qt_error_string(error));
}

} // namespace

AutostartEntry::AutostartEntry(QString configDir, QString program)
    : m_filePath(QDir(configDir.isEmpty()
                          ? QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
                          : configDir)
                     .filePath(QStringLiteral("autostart/") + entryFileName))
    , m_program(std::move(program))
{
}

QString AutostartEntry::defaultProgram()
{
    const QString image = qEnvironmentVariable("APPIMAGE");
    if (!image.isEmpty() && QDir::isAbsolutePath(image) && QFileInfo(image).isFile())
        return image;
    return QCoreApplication::applicationFilePath();
}

QString AutostartEntry::hint()
{
    return QStringLiteral("Start at login needs a writable ~/.config/autostart folder.");
}

QString AutostartEntry::statusText(AutostartStatus status) const
{
    // The folder as the user knows it: under the home folder, from "~".
    QString folder = QFileInfo(m_filePath).path();
    const QString home = QDir::homePath();
    if (folder.startsWith(home + u'/'))
        folder = u'~' + folder.mid(home.size());
    return statusText(static_cast<int>(status), folder);
}

QString AutostartEntry::statusText(int status, const QString& folder)
{
    switch (status) {
    case 0:
        return QStringLiteral("Start at login: off");
    case 1:
        return QStringLiteral("Start at login: on, in ") + folder;
    case 2:
        return QStringLiteral("Start at login: not found — the program has moved; switch this off "
                              "and on again");
    default:
        return QStringLiteral("Start at login: unknown");
    }
}

QByteArray AutostartEntry::entryText(const QString& program)
{
    const QStringList lines{
        QStringLiteral("[Desktop Entry]"),
        QStringLiteral("Type=Application"),
        QStringLiteral("Name=Vardelle"),
        QStringLiteral("Comment=Reads the day's security headlines aloud"),
        QStringLiteral("Exec=") + execValue(program),
        QStringLiteral("Icon=vardelle"),
        QStringLiteral("Terminal=false"),
        QStringLiteral("NoDisplay=false"),
        QStringLiteral("X-GNOME-Autostart-enabled=true"),
        // The bubble and the tray icon need the desktop's panel: start once it is up.
        QStringLiteral("X-GNOME-Autostart-Phase=Applications"),
        QStringLiteral("X-KDE-autostart-after=panel"),
        QStringLiteral("X-LXQt-Need-Tray=true"),
    };
    return lines.join(u'\n').toUtf8() + '\n';
}

AutostartStatus AutostartEntry::status() const
{
    return inspect(m_filePath).status;
}

std::optional<QString> AutostartEntry::setEnabled(bool enabled)
{
    if (enabled) {
        // An entry switched off in the desktop's own settings, or one for a copy of the program
        // elsewhere, is replaced; one that starts this program is left as it is, with any
        // arguments added to it by hand.
        const Inspection current = inspect(m_filePath);
        if (current.status == AutostartStatus::enabled &&
            QFileInfo(current.program).canonicalFilePath() ==
                QFileInfo(m_program).canonicalFilePath())
            return std::nullopt;
        if (std::optional<QString> error = makeFolder(QFileInfo(m_filePath).absolutePath()))
            return *error + u' ' + hint();
        errno = 0;
        if (!writeFileAtomically(m_filePath, entryText(m_program))) {
            const int error = errno;
            return QStringLiteral("Could not write “%1”: %2.")
                       .arg(QDir::toNativeSeparators(m_filePath),
                            error != 0 ? qt_error_string(error)
                                       : QStringLiteral("the write did not complete")) +
                   u' ' + hint();
        }
        return std::nullopt;
    }
    const QFileInfo info(m_filePath);
    if (!info.exists() && !info.isSymLink())
        return std::nullopt;
    QFile file(m_filePath);
    if (!file.remove()) {
        return QStringLiteral("Could not remove “%1”: %2.")
                   .arg(QDir::toNativeSeparators(m_filePath), file.errorString()) +
               u' ' + hint();
    }
    return std::nullopt;
}

} // namespace vardelle
