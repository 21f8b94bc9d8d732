#include "support/PrivateBus.h"

#include <QFile>

#include <csignal>
#include <sys/prctl.h>

namespace vardelle::test {

namespace {

constexpr int patience = 30000; // ms; only a bound on waiting, never a requirement

} // namespace

PrivateBus::~PrivateBus()
{
    stop();
}

bool PrivateBus::start(const QString& folder, const QString& program)
{
    const QString config = folder + QStringLiteral("/bus.conf");
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QString text =
        QStringLiteral("<!DOCTYPE busconfig PUBLIC"
                       " \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\""
                       " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                       "<busconfig>\n"
                       "  <type>session</type>\n"
                       "  <listen>unix:dir=%1</listen>\n"
                       "  <auth>EXTERNAL</auth>\n"
                       "  <policy context=\"default\">\n"
                       "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
                       "    <allow eavesdrop=\"true\"/>\n"
                       "    <allow own=\"*\"/>\n"
                       "  </policy>\n"
                       "</busconfig>\n")
            .arg(folder);
    file.write(text.toUtf8());
    file.close();

    m_process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    m_process.setStandardErrorFile(QProcess::nullDevice());
    m_process.start(program,
                    {QStringLiteral("--config-file=") + config, QStringLiteral("--print-address"),
                     QStringLiteral("--nofork"), QStringLiteral("--nopidfile")});
    if (!m_process.waitForStarted())
        return false;
    while (!m_process.canReadLine()) {
        if (!m_process.waitForReadyRead(patience))
            return false;
    }
    m_address = QString::fromUtf8(m_process.readLine()).trimmed();
    return !m_address.isEmpty();
}

void PrivateBus::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(patience)) {
        m_process.kill();
        m_process.waitForFinished();
    }
}

} // namespace vardelle::test
