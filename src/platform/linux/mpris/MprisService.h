#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <functional>

namespace vardelle {

class AppCoordinator;

// Vardelle as a media player on the session bus, `org.mpris.MediaPlayer2.vardelle` at
// /org/mpris/MediaPlayer2, so that the desktop's media keys and sound menu drive the briefings:
// Play (and PlayPause when stopped) asks for the latest headlines as a click does; Pause, Stop
// (and PlayPause while playing) stop as every Stop does; Next goes on with the next story. The
// player is "Playing" while a briefing gathers or speaks; its track is the part being read, with
// the story's title, source and link. Every change of a property is announced with
// PropertiesChanged. Nothing is grabbed: the desktop decides which player its keys reach.
//
// Main thread.
class MprisService : public QObject {
    Q_OBJECT

public:
    static const QString serviceName;
    static const QString objectPath;
    static const QString rootInterface;
    static const QString playerInterface;

    MprisService(AppCoordinator& coordinator, std::function<void()> play,
                 QObject* parent = nullptr);
    ~MprisService() override;

    // Exports the player on `bus` and takes the name; false when either fails (another
    // player holds the name, no bus), and nothing is exported then.
    bool registerOn(QDBusConnection bus);

    // What the interfaces read and do.
    QString playbackStatus() const;
    QVariantMap metadata() const;
    bool canGoNext() const;
    void play();
    void pause();
    void playPause();
    void stop();
    void next();

private:
    // Sends PropertiesChanged for the player's properties that differ from what was last sent.
    void announceChanges();

    AppCoordinator& m_coordinator;
    std::function<void()> m_play;
    QDBusConnection m_bus;
    bool m_registered = false;
    QString m_sentStatus;
    QVariantMap m_sentMetadata;
    bool m_sentCanGoNext = false;
};

} // namespace vardelle
