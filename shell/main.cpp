// vorn: the desktop program, or with --headless the program without a window.

#include "messaging/messageStream.h"
#include "runner/commandLine.h"
#include "runner/headlessRunner.h"
#include "runner/messageTee.h"
#include "shell/screenshotTaker.h"
#include "shell/stopSignalWatcher.h"
#include "shell/vornApp.h"

#include <QApplication>

#include <cstdlib>
#include <iostream>
#include <optional>
#include <memory>

namespace {

bool haveDisplay() {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        const char* value = std::getenv(name);
        if (value && *value)
            return true;
    }
    return false;
}

} // namespace

int main(int argc, char** argv) {
    const commandLineParse parsed = parseCommandLine(argc, argv);
    if (const std::optional<int> status = answerWithoutRunning(parsed))
        return *status;
    const commandLineOptions& options = parsed.options;
    if (options.headless)
        return runHeadless(options);

    if (options.frameLimit || !options.recordPath.empty() || options.reportLatency) {
        std::cerr << "vorn: --frames, --record and --latency need --headless" << std::endl;
        return 1;
    }
    if (!haveDisplay()) {
        std::cerr << "vorn: no display to open the window on (DISPLAY is not set); "
                     "use 'vorn --headless --source SRC' to run without a window"
                  << std::endl;
        return 1;
    }

    // The result channel comes first; it ends the process when nothing opens.
    openMessageChannel(messageChannelOptions(options));
    if (options.printMessages) {
        std::shared_ptr<datagramTransport> channel = messageStream.setTransport(nullptr);
        messageStream.setTransport(std::make_shared<messageTee>(channel, &std::cout));
    }

    // Qt sees only the program name: every argument was ours.
    int qtArgc = 1;
    QApplication application(qtArgc, argv);
    CVornApp app(options);
    if (!app.InitInstance())
        return 1;
    CScreenshotTaker::FromEnvironment(app);
    // Ctrl-C or a polite kill ends the program like File > Exit, so the
    // settings are saved. Every event loop is left, open dialogs included.
    CStopSignalWatcher stopWatcher([](int) { QCoreApplication::exit(0); });
    const int status = application.exec();
    app.ExitInstance();
    return status;
}
