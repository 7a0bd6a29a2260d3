#include "shell/stopSignalWatcher.h"

#include <QSocketNotifier>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {
int signalPipe[2] = {-1, -1};
}

CStopSignalWatcher::CStopSignalWatcher(std::function<void(int)> onStop, QObject* parent)
    : QObject(parent), m_onStop(std::move(onStop)) {
    if (signalPipe[0] < 0 && ::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return; // without a pipe the signals keep their default effect
    m_notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &CStopSignalWatcher::OnReadable);
    struct sigaction action {};
    action.sa_handler = &CStopSignalWatcher::OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, &m_previousInt);
    ::sigaction(SIGTERM, &action, &m_previousTerm);
    m_installed = true;
}

CStopSignalWatcher::~CStopSignalWatcher() {
    if (!m_installed)
        return;
    ::sigaction(SIGINT, &m_previousInt, nullptr);
    ::sigaction(SIGTERM, &m_previousTerm, nullptr);
}

void CStopSignalWatcher::OnSignal(int signalNumber) {
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    (void)!::write(signalPipe[1], &byte, 1); // async-signal-safe; a full pipe already wakes us
    errno = saved;
}

void CStopSignalWatcher::OnReadable() {
    unsigned char byte = 0;
    int last = 0;
    while (::read(signalPipe[0], &byte, 1) == 1)
        last = byte;
    if (last != 0 && m_onStop)
        m_onStop(last);
}
