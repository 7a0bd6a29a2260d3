// vorn without the desktop window: the command line and the headless runner.

#include <iostream>
#include <optional>

#include "runner/commandLine.h"
#include "runner/headlessRunner.h"

int main(int argc, char** argv) {
    const commandLineParse parsed = parseCommandLine(argc, argv);
    if (const std::optional<int> status = answerWithoutRunning(parsed))
        return *status;
    const commandLineOptions& options = parsed.options;
    if (!options.headless)
        std::cerr << "vorn: built without the desktop window; running headless" << std::endl;
    return runHeadless(options);
}
