#include "linux/mpris/MprisService.h"

#include "briefing/AppCoordinator.h"
#include "linux/mpris/MprisPlayerAdaptor.h"
#include "linux/mpris/MprisRootAdaptor.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QUrl>

#include <utility>

namespace vardelle {

const QString MprisService::serviceName = QStringLiteral("org.mpris.MediaPlayer2.vardelle");
const QString MprisService::objectPath = QStringLiteral("/org/mpris/MediaPlayer2");
const QString MprisService::rootInterface = QStringLiteral("org.mpris.MediaPlayer2");
const QString MprisService::playerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");

MprisService::MprisService(AppCoordinator& coordinator, std::function<void()> play, QObject* parent)
    : QObject(parent)
    , m_coordinator(coordinator)
    , m_play(std::move(play))
    , m_bus(QString())
{
    new MprisRootAdaptor(this);
    new MprisPlayerAdaptor(*this, this);
    m_sentStatus = playbackStatus();
    m_sentMetadata = metadata();
    m_sentCanGoNext = canGoNext();
    connect(&coordinator, &AppCoordinator::stateChanged, this, &MprisService::announceChanges);
    connect(&coordinator, &AppCoordinator::readingChanged, this, &MprisService::announceChanges);
}

MprisService::~MprisService()
{
    if (!m_registered)
        return;
    m_bus.unregisterService(serviceName);
    m_bus.unregisterObject(objectPath);
}

bool MprisService::registerOn(QDBusConnection bus)
{
    if (m_registered || !bus.isConnected())
        return false;
    if (!bus.registerObject(objectPath, this, QDBusConnection::ExportAdaptors))
        return false;
    if (!bus.registerService(serviceName)) {
        bus.unregisterObject(objectPath);
        return false;
    }
    m_bus = bus;
    m_registered = true;
    return true;
}

QString MprisService::playbackStatus() const
{
    switch (m_coordinator.state().kind) {
    case AnnouncerState::Kind::gathering:
    case AnnouncerState::Kind::speaking:
        return QStringLiteral("Playing");
    case AnnouncerState::Kind::idle:
    case AnnouncerState::Kind::failed:
        break;
    }
    return QStringLiteral("Stopped");
}

QVariantMap MprisService::metadata() const
{
    const std::optional<AppCoordinator::Reading> reading = m_coordinator.reading();
    if (!reading)
        return {};
    QVariantMap map;
    map.insert(
        QStringLiteral("mpris:trackid"),
        QVariant::fromValue(QDBusObjectPath(
            QStringLiteral("/org/vardelle/briefing/%1/%2").arg(reading->run).arg(reading->index))));
    const std::optional<NewsItem>& story = reading->part.story;
    if (!story) {
        // The opening or the closing: its words are the title.
        map.insert(QStringLiteral("xesam:title"), reading->part.text);
        return map;
    }
    map.insert(QStringLiteral("xesam:title"), story->title);
    map.insert(QStringLiteral("xesam:artist"), QStringList{story->source});
    const QUrl link(story->link);
    if (link.isValid() && (link.scheme() == u"http" || link.scheme() == u"https"))
        map.insert(QStringLiteral("xesam:url"), link.toString());
    return map;
}

bool MprisService::canGoNext() const
{
    return m_coordinator.hasNextPart();
}

void MprisService::play()
{
    if (playbackStatus() == u"Playing")
        return; // already under way; a second key press starts nothing new
    if (m_play)
        m_play();
}

void MprisService::pause()
{
    stop();
}

void MprisService::playPause()
{
    if (playbackStatus() == u"Playing")
        stop();
    else
        play();
}

void MprisService::stop()
{
    m_coordinator.stop();
}

void MprisService::next()
{
    m_coordinator.skipToNextPart();
}

void MprisService::announceChanges()
{
    QVariantMap changed;
    if (const QString status = playbackStatus(); status != m_sentStatus) {
        m_sentStatus = status;
        changed.insert(QStringLiteral("PlaybackStatus"), status);
    }
    if (const QVariantMap data = metadata(); data != m_sentMetadata) {
        m_sentMetadata = data;
        changed.insert(QStringLiteral("Metadata"), data);
    }
    if (const bool next = canGoNext(); next != m_sentCanGoNext) {
        m_sentCanGoNext = next;
        changed.insert(QStringLiteral("CanGoNext"), next);
    }
    if (changed.isEmpty() || !m_registered)
        return;
    QDBusMessage signal =
        QDBusMessage::createSignal(objectPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                                   QStringLiteral("PropertiesChanged"));
    signal.setArguments({playerInterface, changed, QStringList()});
    m_bus.send(signal);
}

} // namespace vardelle
