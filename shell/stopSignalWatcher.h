#pragma once
// Turns SIGINT and SIGTERM into an ordinary end of the desktop program: the
// event loops are left, and the usual shutdown runs (capture paused, the
// settings saved, the capture thread ended). The signal handler only writes
// one byte into a pipe; the rest happens on the user-interface thread.

#include <QObject>

#include <csignal>
#include <functional>

class QSocketNotifier;

class CStopSignalWatcher : public QObject {
    Q_OBJECT
public:
    explicit CStopSignalWatcher(std::function<void(int signalNumber)> onStop, QObject* parent = nullptr);
    ~CStopSignalWatcher() override; // puts the previous handlers back
    CStopSignalWatcher(const CStopSignalWatcher&) = delete;
    CStopSignalWatcher& operator=(const CStopSignalWatcher&) = delete;

private:
    static void OnSignal(int signalNumber);
    void OnReadable();

    std::function<void(int)> m_onStop;
    QSocketNotifier* m_notifier = nullptr;
    struct sigaction m_previousInt {};
    struct sigaction m_previousTerm {};
    bool m_installed = false;
};
