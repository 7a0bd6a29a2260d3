// vorn without the desktop window: the command line and the headless runner.

#include <iostream>

#include "runner/commandLine.h"
#include "runner/headlessRunner.h"

int main(int argc, char** argv) {
    const commandLineParse parsed = parseCommandLine(argc, argv);
    if (!parsed.ok) {
        std::cerr << "vorn: " << parsed.error << "\nTry 'vorn --help'." << std::endl;
        return 1;
    }
    const commandLineOptions& options = parsed.options;
    if (options.help) {
        std::cout << commandLineUsage("vorn");
        return 0;
    }
    if (options.version) {
        std::cout << versionText();
        return 0;
    }
    if (options.listSources) {
        std::cout << listSourcesText();
        return 0;
    }
    if (!options.headless)
        std::cerr << "vorn: built without the desktop window; running headless" << std::endl;
    return runHeadless(options);
}
