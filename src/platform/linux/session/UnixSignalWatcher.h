#pragma once

#include <QObject>

#include <initializer_list>
#include <vector>

class QSocketNotifier;

namespace vardelle {

// Turns POSIX signals (SIGINT from Ctrl+C, SIGTERM at logout) into a Qt signal on the thread
// that made the watcher, through a self-pipe: the handler itself only writes one byte. One
// watcher per process.
class UnixSignalWatcher : public QObject {
    Q_OBJECT

public:
    explicit UnixSignalWatcher(std::initializer_list<int> watched, QObject* parent = nullptr);
    ~UnixSignalWatcher() override;

signals:
    void received(int signal);

private:
    void drain();

    QSocketNotifier* m_notifier = nullptr;
    std::vector<int> m_signals;
};

} // namespace vardelle
