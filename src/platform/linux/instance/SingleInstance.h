#pragma once

#include "linux/instance/InstanceRequest.h"

#include <QLockFile>
#include <QObject>
#include <QString>

class QLocalServer;

namespace vardelle {

// Makes sure that one process at a time runs Vardelle for this user: the desktop accessory, or a
// `vardelle brief` run in a terminal while no desktop runs. Only that process writes state.json.
//
// The owner holds a lock file and listens on a local socket, both in the runtime folder; other
// `vardelle` processes send it requests there (InstanceClient, InstanceProtocol.h).
//
//     SingleInstance instance;               // $XDG_RUNTIME_DIR, or Qt's private fallback
//     if (!instance.claim()) { ...forward to the running one, see runDesktopOrForward()... }
//     QObject::connect(&instance, &SingleInstance::requested, ...);
//
// A lock left behind by a process that has died is taken over. Main thread only.
class SingleInstance : public QObject {
    Q_OBJECT

public:
    // `folder` holds the lock file and the socket; it must be private to the user.
    explicit SingleInstance(const QString& folder = defaultFolder(), QObject* parent = nullptr);
    ~SingleInstance() override;

    // The user's runtime folder, $XDG_RUNTIME_DIR. When it is unset or unusable, Qt's fallback,
    // a folder of mode 0700 in /tmp that it makes for this user; empty when even that fails.
    static QString defaultFolder();
    static QString lockPath(const QString& folder);
    static QString socketPath(const QString& folder);

    // Takes the lock and starts serving requests: true when this process is now the instance
    // (also when it already was). False when another live process holds it, or when the folder
    // cannot be used; errorString() tells the two apart.
    bool claim();
    bool isClaimed() const { return m_claimed; }
    // Why the last claim() failed; empty when only because another instance runs.
    QString errorString() const { return m_error; }
    // Stops serving and lets the lock go; open requests are dropped.
    void release();

    QString folder() const { return m_folder; }

    void setLimits(const InstanceRequest::Limits& limits) { m_limits = limits; }
    // Connections that have not yet sent their request, at most; more are closed at once. Each
    // is served on its own and dropped when it stays silent past the request timeout, so the
    // default is far above what a user's scripts open at once.
    void setMaxWaitingConnections(int count) { m_maxWaiting = count; }

    // Whether some live process holds the lock of `folder` at this moment.
    static bool isHeld(const QString& folder);

signals:
    // A client sent a well-formed request; answer it through `request` (now or later).
    void requested(vardelle::InstanceRequest* request);

private:
    void accept();

    QString m_folder;
    QLockFile m_lock;
    QLocalServer* m_server = nullptr;
    bool m_claimed = false;
    QString m_error;
    InstanceRequest::Limits m_limits;
    int m_maxWaiting = 128;
};

} // namespace vardelle
