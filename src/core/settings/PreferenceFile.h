#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QStringList>
#include <QStringView>

#include "files/FileLock.h"

#include <QHash>

#include <chrono>
#include <memory>
#include <optional>

namespace vardelle {

// The user defaults store: one JSON object of typed values in a file, shared by every Vardelle
// process of the user (the desktop, commands in a terminal). Every change is a read-modify-write
// of the file under one lock (FileLock, "<name>.lock" beside it): the file is read again, the
// keys this object changed are set in what it holds now, and the result replaces it atomically,
// readable by its owner only. So two processes that change different keys keep both changes, and
// a change made from what was read (adding to a list) is safe inside beginEdit()/endEdit().
//
// The typed readers take a value only when it has the right kind:
//  - integer: a JSON number that is whole and fits in 64 bits ("20" and "20.0", not "20.5")
//  - number:  any JSON number, as a double
//  - boolean: only true and false (never 0, 1 or a text)
//  - string:  only a JSON string (a number is never turned into text, nor text into a number)
//  - string array: a JSON array whose elements are all strings
// Anything else, and a missing key, reads as no value.
//
// A file that is missing gives an empty object. A file that is there but is not a regular file
// holding one JSON object of at most maxFileBytes also gives an empty object; it stays untouched
// until the first write, which first moves it aside to "<name>.corrupt" so that nothing the user
// had is lost. A file deleted while the process runs is written anew from what the process holds.
//
// A write returns whether the file was saved. A write that fails (or cannot have the lock within
// lockWait) leaves the previous file as it was; the in-memory value is kept all the same, and the
// next successful write carries it.
class PreferenceFile {
public:
    explicit PreferenceFile(QString path);
    PreferenceFile(const PreferenceFile&) = delete;
    PreferenceFile& operator=(const PreferenceFile&) = delete;

    // The object that a preference file's bytes hold; no value unless they are one JSON object.
    static std::optional<QJsonObject> decode(const QByteArray& bytes);
    // A preference file with no path holding what `bytes` decode to (an empty object when they
    // decode to nothing), for reading preferences without a file; its writes save nothing.
    static std::unique_ptr<PreferenceFile> fromBytes(const QByteArray& bytes);

    // $XDG_CONFIG_HOME/Vardelle/preferences.json (~/.config by default), independent of the
    // application's own names; empty when no configuration folder can be found.
    static QString defaultPath();

    // The longest file read; a larger one counts as unreadable.
    static constexpr qint64 maxFileBytes = 4 * 1024 * 1024;
    // How long a change waits for another process's change to end.
    static constexpr std::chrono::milliseconds lockWait{10'000};

    QString path() const { return m_path; }
    QString lockPath() const { return m_path + QStringLiteral(".lock"); }
    // The name under which an unreadable file is kept before it is replaced.
    QString corruptPath() const { return m_path + QStringLiteral(".corrupt"); }

    bool contains(QStringView key) const;
    QJsonValue value(QStringView key) const; // Undefined when the key is missing

    std::optional<qint64> integer(QStringView key) const;
    std::optional<double> number(QStringView key) const;
    std::optional<bool> boolean(QStringView key) const;
    std::optional<QString> string(QStringView key) const;
    std::optional<QStringList> stringArray(QStringView key) const;

    bool setValue(QStringView key, const QJsonValue& value);
    bool setInteger(QStringView key, qint64 value);
    bool setNumber(QStringView key, double value);
    bool setBoolean(QStringView key, bool value);
    bool setString(QStringView key, const QString& value);
    bool setStringArray(QStringView key, const QStringList& value);
    // Two numbers that belong together (a position), written in one save.
    bool setNumberPair(QStringView firstKey, double first, QStringView secondKey, double second);
    bool remove(QStringView key);

    // Takes the file's lock (waiting at most lockWait) and reads the file again, so that what is
    // read here until endEdit() is what the file holds, and no other process changes it
    // meanwhile; writes in between go straight to the file. Nests. False, and nothing held, when
    // the lock cannot be had; lockError() says why.
    bool beginEdit();
    void endEdit();
    QString lockError() const { return m_lock.errorString(); }

private:
    enum class OnDisk { missing, object, unreadable };
    // What the file holds now; `object` is set only for OnDisk::object.
    OnDisk read(QJsonObject& object) const;
    // Takes what the file holds, with this object's unsaved changes on top.
    void reload();
    bool save();

    QString m_path;
    QJsonObject m_object;
    // Keys changed here and not yet saved, with their values (undefined: removed).
    QHash<QString, QJsonValue> m_unsaved;
    FileLock m_lock;
};

} // namespace vardelle
