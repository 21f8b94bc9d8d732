#include "settings/PreferenceFile.h"

#include "files/AtomicFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QStandardPaths>

#include <cerrno>
#include <cstdio>

namespace vardelle {

PreferenceFile::PreferenceFile(QString path)
    : m_path(std::move(path))
{
    load();
}

std::optional<QJsonObject> PreferenceFile::decode(const QByteArray& bytes)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    return document.object();
}

std::unique_ptr<PreferenceFile> PreferenceFile::fromBytes(const QByteArray& bytes)
{
    auto file = std::make_unique<PreferenceFile>(QString());
    file->m_object = decode(bytes).value_or(QJsonObject());
    return file;
}

QString PreferenceFile::defaultPath()
{
    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    if (config.isEmpty())
        return {};
    return config + QStringLiteral("/Vardelle/preferences.json");
}

void PreferenceFile::load()
{
    if (m_path.isEmpty())
        return;
    QFile file(m_path);
    if (!file.exists())
        return;
    if (!file.open(QIODevice::ReadOnly)) {
        m_keepAside = true;
        return;
    }
    const QByteArray bytes = file.readAll();
    std::optional<QJsonObject> object = decode(bytes);
    if (file.error() != QFileDevice::NoError || !object) {
        m_keepAside = true;
        return;
    }
    m_object = std::move(*object);
}

bool PreferenceFile::save()
{
    if (m_path.isEmpty())
        return false;
    // The folder must exist before the unreadable file can be moved aside inside it.
    if (!QDir().mkpath(QFileInfo(m_path).absolutePath()))
        return false;

    if (m_keepAside) {
        // rename(2) keeps the bytes exactly, also of a file we could not read, and replaces an
        // older copy. When it fails for any reason but the file being gone, nothing is written.
        const QByteArray from = QFile::encodeName(m_path);
        const QByteArray to = QFile::encodeName(corruptPath());
        if (std::rename(from.constData(), to.constData()) != 0 && errno != ENOENT)
            return false;
        m_keepAside = false;
    }

    return writeFileAtomically(m_path, QJsonDocument(m_object).toJson(QJsonDocument::Indented));
}

bool PreferenceFile::contains(QStringView key) const
{
    return m_object.contains(key);
}

QJsonValue PreferenceFile::value(QStringView key) const
{
    return m_object.value(key);
}

std::optional<qint64> PreferenceFile::integer(QStringView key) const
{
    const QJsonValue stored = m_object.value(key);
    if (!stored.isDouble())
        return std::nullopt;
    // toInteger() falls back to its argument for a number that is not whole or does not fit in
    // 64 bits; two different fallbacks tell that case apart from a stored value equal to one.
    const qint64 a = stored.toInteger(0);
    const qint64 b = stored.toInteger(1);
    if (a != b)
        return std::nullopt;
    return a;
}

std::optional<double> PreferenceFile::number(QStringView key) const
{
    const QJsonValue stored = m_object.value(key);
    if (!stored.isDouble())
        return std::nullopt;
    return stored.toDouble();
}

std::optional<bool> PreferenceFile::boolean(QStringView key) const
{
    const QJsonValue stored = m_object.value(key);
    if (!stored.isBool())
        return std::nullopt;
    return stored.toBool();
}

std::optional<QString> PreferenceFile::string(QStringView key) const
{
    const QJsonValue stored = m_object.value(key);
    if (!stored.isString())
        return std::nullopt;
    return stored.toString();
}

std::optional<QStringList> PreferenceFile::stringArray(QStringView key) const
{
    const QJsonValue stored = m_object.value(key);
    if (!stored.isArray())
        return std::nullopt;
    const QJsonArray array = stored.toArray();
    QStringList strings;
    strings.reserve(array.size());
    for (const QJsonValue& element : array) {
        if (!element.isString())
            return std::nullopt;
        strings.append(element.toString());
    }
    return strings;
}

bool PreferenceFile::setValue(QStringView key, const QJsonValue& value)
{
    if (value.isUndefined())
        return remove(key);
    m_object.insert(key, value);
    return save();
}

bool PreferenceFile::setInteger(QStringView key, qint64 value)
{
    return setValue(key, QJsonValue(value));
}

bool PreferenceFile::setNumber(QStringView key, double value)
{
    return setValue(key, QJsonValue(value));
}

bool PreferenceFile::setBoolean(QStringView key, bool value)
{
    return setValue(key, QJsonValue(value));
}

bool PreferenceFile::setString(QStringView key, const QString& value)
{
    return setValue(key, QJsonValue(value));
}

bool PreferenceFile::setStringArray(QStringView key, const QStringList& value)
{
    return setValue(key, QJsonArray::fromStringList(value));
}

bool PreferenceFile::setNumberPair(QStringView firstKey, double first, QStringView secondKey,
                                   double second)
{
    m_object.insert(firstKey, first);
    m_object.insert(secondKey, second);
    return save();
}

bool PreferenceFile::remove(QStringView key)
{
    m_object.remove(key);
    return save();
}

} // namespace vardelle
