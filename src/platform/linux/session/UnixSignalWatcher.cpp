#include "linux/session/UnixSignalWatcher.h"

#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vardelle {

namespace {

int pipeEnds[2] = {-1, -1}; // [0] read by the watcher, [1] written by the handler

void onSignal(int signal)
{
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(signal);
    [[maybe_unused]] const ssize_t written = ::write(pipeEnds[1], &byte, 1);
    errno = saved;
}

} // namespace

UnixSignalWatcher::UnixSignalWatcher(std::initializer_list<int> watched, QObject* parent)
    : QObject(parent)
{
    if (pipeEnds[0] < 0 && ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pipeEnds) != 0)
        return;
    ::fcntl(pipeEnds[1], F_SETFL, O_NONBLOCK);
    m_notifier = new QSocketNotifier(pipeEnds[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &UnixSignalWatcher::drain);

    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : watched) {
        if (::sigaction(signal, &action, nullptr) == 0)
            m_signals.push_back(signal);
    }
}

UnixSignalWatcher::~UnixSignalWatcher()
{
    for (int signal : m_signals)
        std::signal(signal, SIG_DFL);
}

void UnixSignalWatcher::drain()
{
    unsigned char byte = 0;
    if (::read(pipeEnds[0], &byte, 1) == 1)
        emit received(int(byte));
}

} // namespace vardelle
