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
    , m_lock(lockPath())
{
    if (!m_path.isEmpty())
        read(m_object);
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

PreferenceFile::OnDisk PreferenceFile::read(QJsonObject& object) const
{
    QFile file(m_path);
    const QFileInfo info(m_path);
    if (!info.exists() && !info.isSymLink())
        return OnDisk::missing;
    if (!info.isFile() || info.size() > maxFileBytes || !file.open(QIODevice::ReadOnly))
        return OnDisk::unreadable;
    const QByteArray bytes = file.read(maxFileBytes + 1);
    if (file.error() != QFileDevice::NoError || bytes.size() > maxFileBytes)
        return OnDisk::unreadable;
    std::optional<QJsonObject> decoded = decode(bytes);
    if (!decoded)
        return OnDisk::unreadable;
    object = std::move(*decoded);
    return OnDisk::object;
}

void PreferenceFile::reload()
{
    QJsonObject onDisk;
    if (read(onDisk) != OnDisk::object)
        return; // missing or unreadable: what this process holds is all there is
    for (auto it = m_unsaved.cbegin(); it != m_unsaved.cend(); ++it) {
        if (it->isUndefined())
            onDisk.remove(it.key());
        else
            onDisk.insert(it.key(), *it);
    }
    m_object = std::move(onDisk);
}

bool PreferenceFile::beginEdit()
{
    if (m_path.isEmpty())
        return true;
    // The lock file lives beside the preference file, whose folder may not be there yet.
    QDir().mkpath(QFileInfo(m_path).absolutePath());
    if (!m_lock.lock(lockWait))
        return false;
    reload();
    return true;
}

void PreferenceFile::endEdit()
{
    if (!m_path.isEmpty())
        m_lock.unlock();
}

bool PreferenceFile::save()
{
    if (m_path.isEmpty())
        return false;
    if (!beginEdit())
        return false;

    QJsonObject onDisk;
    if (read(onDisk) == OnDisk::unreadable) {
        // rename(2) keeps the bytes exactly, also of a file we could not read, and replaces an
        // older copy. When it fails for any reason but the file being gone, nothing is written.
        const QByteArray from = QFile::encodeName(m_path);
        const QByteArray to = QFile::encodeName(corruptPath());
        if (std::rename(from.constData(), to.constData()) != 0 && errno != ENOENT) {
            endEdit();
            return false;
        }
    }
    const bool saved =
        writeFileAtomically(m_path, QJsonDocument(m_object).toJson(QJsonDocument::Indented),
                            QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    if (saved)
        m_unsaved.clear();
    endEdit();
    return saved;
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
    m_unsaved.insert(key.toString(), value);
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
    m_unsaved.insert(firstKey.toString(), first);
    m_unsaved.insert(secondKey.toString(), second);
    return save();
}

bool PreferenceFile::remove(QStringView key)
{
    m_object.remove(key);
    m_unsaved.insert(key.toString(), QJsonValue(QJsonValue::Undefined));
    return save();
}

} // namespace vardelle
