#include "support/SpeechServer.h"

#include "support/TestData.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QThread>

#include <csignal>
#include <sys/prctl.h>

namespace vardelle::test {

SpeechServer::~SpeechServer()
{
    stop();
}

bool SpeechServer::isInstalled()
{
    return !QStandardPaths::findExecutable(QStringLiteral("speech-dispatcher")).isEmpty();
}

QString SpeechServer::start()
{
    if (m_server.state() == QProcess::Running && QFileInfo::exists(socketPath()))
        return {};
    if (!m_root.isValid())
        return QStringLiteral("no temporary folder");
    const QString runtime = m_root.filePath(QStringLiteral("runtime"));
    const QString config = m_root.filePath(QStringLiteral("config"));
    const QString home = m_root.filePath(QStringLiteral("home"));
    const QString logs = m_root.filePath(QStringLiteral("logs"));
    for (const QString& folder : {runtime, home, logs}) {
        if (!QDir().mkpath(folder))
            return QStringLiteral("cannot make ") + folder;
    }
    QFile::setPermissions(runtime,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    writeFile(config + QStringLiteral("/speech-dispatcher/speechd.conf"),
              "AudioOutputMethod \"libao\"\nAddModule \"espeak-ng\" \"sd_espeak-ng\" "
              "\"espeak-ng.conf\"\nDefaultModule espeak-ng\n");
    writeFile(home + QStringLiteral("/.libao"), "default_driver=null\n");

    QProcessEnvironment environment;
    environment.insert(QStringLiteral("PATH"),
                       qEnvironmentVariable("PATH", QStringLiteral("/usr/bin:/bin")));
    environment.insert(QStringLiteral("HOME"), home);
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), config);
    environment.insert(QStringLiteral("LANG"), QStringLiteral("C.UTF-8"));
    m_server.setProcessEnvironment(environment);
    m_server.setProcessChannelMode(QProcess::MergedChannels);
    m_server.setStandardOutputFile(m_root.filePath(QStringLiteral("server.out")));
    m_server.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    m_server.start(QStringLiteral("speech-dispatcher"),
                   {QStringLiteral("--run-single"), QStringLiteral("--timeout"),
                    QStringLiteral("120"), QStringLiteral("--log-level"), QStringLiteral("1"),
                    QStringLiteral("--log-dir"), logs, QStringLiteral("--pid-file"),
                    m_root.filePath(QStringLiteral("speechd.pid")),
                    QStringLiteral("--communication-method"), QStringLiteral("unix_socket"),
                    QStringLiteral("--socket-path"), socketPath()});
    if (!m_server.waitForStarted())
        return m_server.errorString();
    const QDeadlineTimer deadline(timeoutMs);
    while (!QFileInfo::exists(socketPath()) && m_server.state() == QProcess::Running &&
           !deadline.hasExpired())
        QThread::msleep(20);
    if (m_server.state() != QProcess::Running || !QFileInfo::exists(socketPath()))
        return QString::fromUtf8(readFile(m_root.filePath(QStringLiteral("server.out"))));
    return {};
}

void SpeechServer::stop()
{
    if (m_server.state() == QProcess::NotRunning)
        return;
    m_server.terminate();
    if (!m_server.waitForFinished(30000)) {
        m_server.kill();
        m_server.waitForFinished();
    }
}

} // namespace vardelle::test
