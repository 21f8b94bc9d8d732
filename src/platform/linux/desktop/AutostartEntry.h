#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace vardelle {

// Whether the application starts with the user's session. The values are fixed: the settings
// window's status line is looked up by them.
enum class AutostartStatus {
    disabled = 0,
    enabled = 1,
    programMissing = 2, // an entry that starts a program which is no longer there
};

// The user's start-at-login registration: the XDG autostart entry
// `<config>/autostart/vardelle.desktop`, which every freedesktop session starts at login.
// The entry is written whole and atomically, so a session that logs in meanwhile reads the old
// entry or the new one.
//
// Main thread only; reads the file each time it is asked, so a change made by another program
// or by hand shows at the next question.
class AutostartEntry {
public:
    // `configDir` empty: the user's configuration folder ($XDG_CONFIG_HOME, else ~/.config).
    // `program` is what the entry starts: an absolute path.
    explicit AutostartEntry(QString configDir = {}, QString program = defaultProgram());

    // This executable; for an AppImage the image itself, since the path inside it is gone once
    // the image is unmounted.
    static QString defaultProgram();

    static QString hint();
    // The line the settings window shows for a status of this entry, in the words of the
    // desktop's autostart: "Start at login: on, in ~/.config/autostart".
    QString statusText(AutostartStatus status) const;
    // The same for any status value, the entry in `folder`.
    static QString statusText(int status, const QString& folder);

    QString filePath() const { return m_filePath; }
    QString program() const { return m_program; }

    AutostartStatus status() const;
    // Writes (true) or removes (false) the entry. None when done; otherwise what went wrong, for
    // a person to read, followed by the hint. Enabling an entry that already starts this program
    // writes nothing; removing an entry that is not there succeeds.
    std::optional<QString> setEnabled(bool enabled);

    // The entry's text for `program`.
    static QByteArray entryText(const QString& program);

private:
    const QString m_filePath;
    const QString m_program;
};

} // namespace vardelle
