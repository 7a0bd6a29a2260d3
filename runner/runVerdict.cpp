#include "runner/runVerdict.h"

#include <algorithm>

runVerdict judgeRunEnd(const runEnd& end) {
    runVerdict verdict;
    if (end.interrupted || end.reachedLimit || !end.streamEnded)
        return verdict;
    const std::string count = std::to_string(end.processed);
    if (end.state == streamState::failed) {
        verdict.failure = (end.endMessage.empty() ? "the source failed" : end.endMessage) + " (after " +
                          count + " frames)";
        return verdict;
    }
    if (end.kind == sourceKind::imageSequence && end.knownFrames >= 0 &&
        static_cast<long long>(end.processed) < end.knownFrames) {
        const std::string culprit =
            formatSequencePath(end.sourceText, end.firstIndex + static_cast<long long>(end.processed));
        verdict.failure = (end.processed == 0 ? std::string("no frame")
                                              : "only " + count + " of " +
                                                    std::to_string(end.knownFrames) + " frames") +
                          " of " + end.sourceText + " could be read; " + culprit + " is unreadable";
        return verdict;
    }
    if (end.processed == 0) {
        verdict.failure = "no frame could be read from " + end.sourceText;
        return verdict;
    }
    if (end.live && end.kind != sourceKind::pipeline && end.kind != sourceKind::demo) {
        verdict.failure = end.description + " stopped delivering frames after " + count + " frames" +
                          (end.endMessage.empty() ? "" : " (" + end.endMessage + ")");
        return verdict;
    }
    if (end.kind == sourceKind::file && end.knownFrames > 0) {
        const long long slack = std::max(1LL, end.knownFrames / 50);
        if (static_cast<long long>(end.processed) + slack < end.knownFrames)
            verdict.warning = end.sourceText + " ended after " + count + " of the " +
                              std::to_string(end.knownFrames) +
                              " frames it announces; it may be truncated or damaged";
    }
    return verdict;
}
