#include "linux/instance/SingleInstance.h"

#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>

#include <algorithm>

namespace vardelle {

SingleInstance::SingleInstance(const QString& folder, QObject* parent)
    : QObject(parent)
    , m_folder(folder)
    , m_lock(lockPath(folder))
{
    // A desktop instance runs for days without touching its lock file, so age says nothing:
    // the lock is stale only once the process that wrote it is gone, which QLockFile checks by
    // the process id and name recorded in the file.
    m_lock.setStaleLockTime(0);
}

SingleInstance::~SingleInstance()
{
    release();
}

QString SingleInstance::defaultFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
}

QString SingleInstance::lockPath(const QString& folder)
{
    return folder + QStringLiteral("/vardelle.lock");
}

QString SingleInstance::socketPath(const QString& folder)
{
    return folder + QStringLiteral("/vardelle.socket");
}

bool SingleInstance::claim()
{
    if (m_claimed)
        return true;
    m_error.clear();
    if (m_folder.isEmpty() || !QFileInfo(m_folder).isDir()) {
        m_error = QStringLiteral("no runtime folder to keep the instance lock in (%1)")
                      .arg(m_folder.isEmpty() ? QStringLiteral("XDG_RUNTIME_DIR") : m_folder);
        return false;
    }
    if (!m_lock.tryLock(0)) {
        if (m_lock.error() != QLockFile::LockFailedError)
            m_error = QStringLiteral("cannot write %1").arg(lockPath(m_folder));
        return false;
    }

    // Whoever held the lock before is gone; its socket may still be there.
    const QString path = socketPath(m_folder);
    QLocalServer::removeServer(path);
    auto* server = new QLocalServer(this);
    server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server->listen(path)) {
        m_error = QStringLiteral("cannot listen on %1: %2").arg(path, server->errorString());
        delete server;
        m_lock.unlock();
        return false;
    }
    connect(server, &QLocalServer::newConnection, this, &SingleInstance::accept);
    m_server = server;
    m_claimed = true;
    return true;
}

void SingleInstance::release()
{
    if (!m_claimed)
        return;
    m_claimed = false;
    delete m_server; // closes the socket file and every connection it made
    m_server = nullptr;
    for (InstanceRequest* request : findChildren<InstanceRequest*>(Qt::FindDirectChildrenOnly))
        delete request;
    m_lock.unlock();
}

bool SingleInstance::isHeld(const QString& folder)
{
    QLockFile probe(lockPath(folder));
    probe.setStaleLockTime(0);
    if (probe.tryLock(0)) {
        probe.unlock();
        return false;
    }
    return probe.error() == QLockFile::LockFailedError;
}

void SingleInstance::accept()
{
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        const QList<InstanceRequest*> requests =
            findChildren<InstanceRequest*>(Qt::FindDirectChildrenOnly);
        const auto waiting = std::count_if(requests.begin(), requests.end(),
                                           [](const InstanceRequest* r) { return r->isWaiting(); });
        if (waiting >= m_maxWaiting) {
            // Something floods the socket; real clients send their request at once.
            socket->abort();
            socket->deleteLater();
            continue;
        }
        new InstanceRequest(
            socket, m_limits, [this](InstanceRequest* received) { emit requested(received); },
            this);
    }
}

} // namespace vardelle
