#pragma once
// The program without a window: frames from --source go through the vision
// pipeline on this thread, one message per processed frame goes to the
// receiver, and the annotated frames can be recorded.
//
// Start-up follows the desktop program: the message channel first (the
// process ends with status 1 when neither the local socket nor the fallback
// opens), then the image source ("Error:  No image source found" and status
// 1 when there is none), then emotion.cfg, then the command line's switches.
// emotion.cfg is written back at a normal end, also after SIGINT or SIGTERM.
//
// Files and image sequences are processed frame by frame, none skipped, as
// fast as the machine allows; live sources (cameras, the demo scene, live
// pipelines) keep only the newest frame while one is processed, and the
// frames in between are counted as dropped.
//
// Standard output: the channel's start-up line, and with --print-messages
// each message as one line. Standard error: progress at most once a second,
// the pipeline's size message, errors, and one summary line at the end.

#include <iosfwd>
#include <optional>

#include "runner/commandLine.h"

// Runs to the end of the source, to --frames, or to SIGINT/SIGTERM and
// returns the exit status: 0 after a normal end, 1 after an error (with a
// one-line reason on `err`).
int runHeadless(const commandLineOptions& options);
int runHeadless(const commandLineOptions& options, std::ostream& out, std::ostream& err);

// The text of --list-sources.
std::string listSourcesText();

// What both programs do before anything starts: a command line that did not
// parse, --help, --version and --list-sources are answered here. Returns the
// exit status when the program is done, nothing when it should go on.
std::optional<int> answerWithoutRunning(const commandLineParse& parsed);
