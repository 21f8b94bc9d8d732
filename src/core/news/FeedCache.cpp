#include "news/FeedCache.h"

#include "files/AtomicFile.h"
#include "files/FileLock.h"
#include "time/Clock.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vardelle {

namespace {

constexpr int fileFormat = 1;
// Bounds on one entry's fields, far above what a real feed address or validator needs.
constexpr qsizetype longestAddress = 8 * 1024;
constexpr qsizetype longestValidator = 1024;
// About 68 years, as for the headers these come from.
constexpr double longestSeconds = 2147483647.0;

// A validator read back from the file: Latin-1 text without control characters, as a header
// value must be; none otherwise.
std::optional<QByteArray> validatorFrom(const QJsonObject& object, QStringView key)
{
    const QJsonValue value = object.value(key);
    if (value.isUndefined())
        return QByteArray();
    if (!value.isString() || value.toString().size() > longestValidator)
        return std::nullopt;
    const QString text = value.toString();
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f || c.unicode() > 0xff)
            return std::nullopt;
    }
    return text.toLatin1();
}

// An optional instant; false when the key is there with something else.
bool instantFrom(const QJsonObject& object, QStringView key, std::optional<Instant>& out)
{
    const QJsonValue value = object.value(key);
    if (value.isUndefined())
        return true;
    if (!value.isDouble())
        return false;
    out = nearestInstantFromReferenceSeconds(value.toDouble());
    return out.has_value();
}

std::optional<std::pair<QString, FeedCacheEntry>> entryFromJson(const QJsonValue& value)
{
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject object = value.toObject();
    const QString address = object.value(u"address").toString();
    if (address.isEmpty() || address.size() > longestAddress)
        return std::nullopt;

    FeedCacheEntry entry;
    const auto etag = validatorFrom(object, u"etag");
    const auto lastModified = validatorFrom(object, u"lastModified");
    if (!etag || !lastModified)
        return std::nullopt;
    entry.etag = *etag;
    entry.lastModified = *lastModified;
    if (!instantFrom(object, u"fetched", entry.fetched) ||
        !instantFrom(object, u"retryAfter", entry.retryAfter))
        return std::nullopt;
    const QJsonValue freshFor = object.value(u"freshFor");
    if (!freshFor.isUndefined()) {
        if (!freshFor.isDouble() || !(freshFor.toDouble() >= 0) ||
            freshFor.toDouble() > longestSeconds)
            return std::nullopt;
        entry.freshFor = std::chrono::seconds(qint64(freshFor.toDouble()));
    }

    const QJsonValue items = object.value(u"items");
    if (!items.isArray())
        return std::nullopt;
    const QJsonArray array = items.toArray();
    entry.items.reserve(array.size());
    for (const QJsonValue& item : array) {
        std::optional<NewsItem> story = newsItemFromJson(item);
        if (!story)
            return std::nullopt;
        entry.items.append(std::move(*story));
    }
    return std::pair{address, std::move(entry)};
}

QByteArray entryToJson(const QString& address, const FeedCacheEntry& entry)
{
    QJsonObject object{{u"address"_qs, address}};
    if (!entry.etag.isEmpty())
        object.insert(u"etag"_qs, QString::fromLatin1(entry.etag));
    if (!entry.lastModified.isEmpty())
        object.insert(u"lastModified"_qs, QString::fromLatin1(entry.lastModified));
    if (entry.fetched)
        object.insert(u"fetched"_qs, toReferenceSeconds(*entry.fetched));
    if (entry.freshFor)
        object.insert(u"freshFor"_qs, double(entry.freshFor->count()));
    if (entry.retryAfter)
        object.insert(u"retryAfter"_qs, toReferenceSeconds(*entry.retryAfter));
    QJsonArray items;
    for (const NewsItem& item : entry.items)
        items.append(toJson(item));
    object.insert(u"items"_qs, items);
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

} // namespace

FeedCache::FeedCache(QString filePath, const Clock& clock, qint64 maxBytes)
    : m_filePath(std::move(filePath))
    , m_clock(clock)
    , m_maxBytes(maxBytes)
    , m_lock(m_filePath + QStringLiteral(".lock"))
{
}

QString FeedCache::defaultFilePath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
           u"/Vardelle/feeds.json"_qs;
}

QString FeedCache::keyOf(const QUrl& address)
{
    return QString::fromLatin1(address.toEncoded());
}

std::optional<FeedCache::FileStamp> FeedCache::stampOfFile() const
{
    struct stat status {};
    if (::lstat(QFile::encodeName(m_filePath).constData(), &status) != 0)
        return std::nullopt;
    return FileStamp{status.st_dev, status.st_ino, status.st_size,
                     qint64(status.st_mtim.tv_sec) * 1'000'000'000 + status.st_mtim.tv_nsec};
}

std::optional<QHash<QString, FeedCacheEntry>> FeedCache::readFile() const
{
    // Not followed through a link, and never waiting on a pipe or device in its place.
    const int fd = ::open(QFile::encodeName(m_filePath).constData(),
                          O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT)
            return QHash<QString, FeedCacheEntry>();
        return std::nullopt;
    }
    QByteArray bytes;
    struct stat status {};
    bool readable =
        ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_size <= m_maxBytes;
    if (readable) {
        // Taken up to one byte past the bound, whatever the size said a moment ago.
        bytes.resize(qsizetype(status.st_size) + 1);
        qsizetype filled = 0;
        while (filled < bytes.size()) {
            const ssize_t got = ::read(fd, bytes.data() + filled, size_t(bytes.size() - filled));
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0) {
                readable = got == 0;
                break;
            }
            filled += got;
        }
        bytes.truncate(filled);
        readable = readable && bytes.size() <= m_maxBytes && filled <= status.st_size;
    }
    ::close(fd);
    if (!readable)
        return std::nullopt;

    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    bytes.clear();
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject root = document.object();
    if (root.value(u"format").toInt() != fileFormat || !root.value(u"feeds").isArray())
        return std::nullopt;

    QHash<QString, FeedCacheEntry> entries;
    const QJsonArray feeds = root.value(u"feeds").toArray();
    for (const QJsonValue& feed : feeds) {
        if (auto entry = entryFromJson(feed))
            entries.insert(entry->first, std::move(entry->second));
    }
    return entries;
}

void FeedCache::setAside() const
{
    // Kept for a person to look at; rename(2) replaces an older copy in one step.
    const QByteArray from = QFile::encodeName(m_filePath);
    const QByteArray to = QFile::encodeName(m_filePath + u".corrupt"_qs);
    std::rename(from.constData(), to.constData());
}

void FeedCache::refresh()
{
    const std::optional<FileStamp> stamp = stampOfFile();
    if (stamp == m_readStamp)
        return;
    std::optional<QHash<QString, FeedCacheEntry>> read = readFile();
    if (!read) {
        setAside();
        read.emplace();
    }
    m_entries = std::move(*read);
    for (auto it = m_unsaved.cbegin(); it != m_unsaved.cend(); ++it)
        m_entries.insert(it.key(), it.value());
    m_readStamp = stampOfFile();
}

std::optional<FeedCacheEntry> FeedCache::find(const QUrl& address) const
{
    const auto found = m_entries.constFind(keyOf(address));
    if (found == m_entries.cend())
        return std::nullopt;
    return *found;
}

void FeedCache::insert(const QUrl& address, FeedCacheEntry entry)
{
    const QString key = keyOf(address);
    m_unsaved.insert(key, entry);
    m_entries.insert(key, std::move(entry));
}

bool FeedCache::save()
{
    // Read, merged and written under the file's lock, so that two processes saving at once both
    // keep their answers. A lock that cannot be had soon leaves the entries for the next save.
    if (m_filePath.isEmpty() || !QDir().mkpath(QFileInfo(m_filePath).absolutePath()) ||
        !m_lock.lock(lockWait))
        return false;
    const bool saved = saveLocked();
    m_lock.unlock();
    return saved;
}

bool FeedCache::saveLocked()
{
    refresh();

    QList<QString> order = m_entries.keys();
    const auto fetched = [this](const QString& key) {
        return m_entries.value(key).fetched.value_or(Instant::min());
    };
    std::sort(order.begin(), order.end(), [&](const QString& a, const QString& b) {
        const Instant left = fetched(a);
        const Instant right = fetched(b);
        return left != right ? left > right : a < b;
    });

    QByteArray file = "{\"format\":" + QByteArray::number(fileFormat) + ",\"feeds\":[";
    const qsizetype closing = 2; // "]}"
    qsizetype kept = 0;
    for (; kept < order.size(); ++kept) {
        const QByteArray piece = entryToJson(order[kept], m_entries.value(order[kept]));
        const qsizetype separator = kept > 0 ? 1 : 0;
        if (file.size() + separator + piece.size() + closing > m_maxBytes)
            break;
        if (separator)
            file += ',';
        file += piece;
    }
    file += "]}";
    // What did not fit is the oldest; it goes.
    for (qsizetype i = kept; i < order.size(); ++i) {
        m_entries.remove(order[i]);
        m_unsaved.remove(order[i]);
    }

    if (!writeFileAtomically(m_filePath, file))
        return false;
    m_unsaved.clear();
    m_readStamp = stampOfFile();
    return true;
}

bool FeedCache::isFresh(const FeedCacheEntry& entry) const
{
    if (!entry.fetched)
        return false;
    const Instant now = m_clock.now();
    if (now < *entry.fetched)
        return false; // the clock went back: ask rather than trust it
    const std::chrono::seconds freshFor = std::clamp<std::chrono::seconds>(
        entry.freshFor.value_or(std::chrono::seconds(0)), shortestFreshness, longestFreshness);
    return now - *entry.fetched < freshFor;
}

bool FeedCache::isHeldOff(const FeedCacheEntry& entry) const
{
    if (!entry.retryAfter)
        return false;
    const Instant now = m_clock.now();
    return now < *entry.retryAfter && *entry.retryAfter - now <= longestRetryAfter;
}

} // namespace vardelle
