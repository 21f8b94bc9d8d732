#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

namespace vardelle::test {

// A speech-dispatcher of a test alone: its own runtime, configuration and home folders, audio to
// libao's null driver (without an audio device the default output never reports an end), and a
// socket in a temporary folder. It dies with the test and leaves by itself once idle.
class SpeechServer {
public:
    static constexpr int timeoutMs = 60000;

    ~SpeechServer();

    // Whether the program is installed at all.
    static bool isInstalled();
    // Starts the server unless it runs; an empty string when it runs, else what went wrong.
    QString start();
    void stop();

    QString socketPath() const { return m_root.filePath(QStringLiteral("speechd.sock")); }

private:
    QTemporaryDir m_root;
    QProcess m_server;
};

} // namespace vardelle::test
