#pragma once

#include <QProcess>
#include <QString>

namespace vardelle::test {

// A dbus-daemon of a test's own, listening in a private folder, gone with the test (also if the
// test itself dies: the daemon gets SIGTERM when its parent goes).
class PrivateBus {
public:
    ~PrivateBus();

    // Starts the daemon found at `program` with its configuration and socket in `folder`.
    bool start(const QString& folder, const QString& program);
    void stop();

    QString address() const { return m_address; }

private:
    QProcess m_process;
    QString m_address;
};

} // namespace vardelle::test
