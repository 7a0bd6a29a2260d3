#pragma once
// How a headless run ended, decided in one place from what was observed:
// an error (status 1) or a warning, with the one line to show.

#include <cstdint>
#include <string>

#include "capture/frameQueue.h"
#include "capture/sourceRequest.h"

struct runEnd {
    std::string sourceText;   // as the user gave it
    std::string description;  // the source's own one-line description
    sourceKind kind = sourceKind::none;
    bool live = false;
    bool streamEnded = false; // the source reported its end (cleanly or not)
    streamState state = streamState::flowing;
    std::string endMessage;   // the source's reason, when it gave one
    bool interrupted = false; // SIGINT or SIGTERM
    bool reachedLimit = false; // --frames was reached
    std::uint64_t processed = 0;
    long long knownFrames = -1; // frames the source announced, -1 when unknown
    long long firstIndex = 0;   // image sequences: index of the first file
};

struct runVerdict {
    std::string failure; // non-empty: the run failed (exit status 1)
    std::string warning; // non-empty: worth a line, the run still succeeded
};

// Only a source's own end is judged: a run stopped by a signal or by
// --frames has nothing to report. Rules:
//  - the source failed: its message, and how far the run got;
//  - an image sequence that delivered fewer frames than it has files: the
//    first file that did not come through;
//  - nothing at all was read;
//  - a camera or a live stream ended (it has no end of its own);
//  - a video file shorter than it announces: a warning (the count is an
//    estimate from duration and rate).
runVerdict judgeRunEnd(const runEnd& end);
