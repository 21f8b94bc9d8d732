#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <memory>
#include <optional>

namespace vardelle {

// The user defaults store: one JSON object of typed values in a file, read whole once when the
// object is made and rewritten whole, atomically, on every change. Changes that other programs
// make to the file afterwards are not seen, and the next write replaces them.
//
// The typed readers take a value only when it has the right kind:
//  - integer: a JSON number that is whole and fits in 64 bits ("20" and "20.0", not "20.5")
//  - number:  any JSON number, as a double
//  - boolean: only true and false (never 0, 1 or a text)
//  - string:  only a JSON string (a number is never turned into text, nor text into a number)
//  - string array: a JSON array whose elements are all strings
// Anything else, and a missing key, reads as no value.
//
// A file that is missing gives an empty object. A file that is there but does not hold a JSON
// object also gives an empty object; it stays untouched until the first write, which first moves
// it aside to "<name>.corrupt" so that nothing the user had is lost.
//
// A write returns whether the file was saved. A write that fails leaves the previous file as it
// was; the in-memory value is kept all the same, so a later successful write carries it.
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

    QString path() const { return m_path; }
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

private:
    void load();
    bool save();

    QString m_path;
    QJsonObject m_object;
    bool m_keepAside = false; // the file on disk is not ours to overwrite until it is moved aside
};

} // namespace vardelle
