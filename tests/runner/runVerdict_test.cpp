#include "runner/runVerdict.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

runEnd endOf(sourceKind kind, bool live, std::uint64_t processed, long long known = -1) {
    runEnd end;
    end.sourceText = kind == sourceKind::imageSequence ? "in/f%05d.png" : "clip.webm";
    end.description = kind == sourceKind::camera ? "camera Test Cam (/dev/video0)" : "the source";
    end.kind = kind;
    end.live = live;
    end.streamEnded = true;
    end.state = streamState::ended;
    end.processed = processed;
    end.knownFrames = known;
    return end;
}

TEST(RunVerdict, EachWayARunCanEnd) {
    struct verdictCase {
        const char* name;
        runEnd end;
        std::string failure;
        std::string warning;
    };
    std::vector<verdictCase> cases;
    cases.push_back({"whole sequence", endOf(sourceKind::imageSequence, false, 5, 5), "", ""});
    cases.push_back({"short sequence", endOf(sourceKind::imageSequence, false, 2, 5),
                     "only 2 of 5 frames of in/f%05d.png could be read; in/f00002.png is unreadable", ""});
    {
        runEnd end = endOf(sourceKind::imageSequence, false, 0, 3);
        end.firstIndex = 1;
        cases.push_back({"sequence from 1 with an unreadable first file", end,
                         "no frame of in/f%05d.png could be read; in/f00001.png is unreadable", ""});
    }
    {
        runEnd end = endOf(sourceKind::file, false, 12, 40);
        end.state = streamState::failed;
        end.endMessage = "clip.webm: stream error";
        cases.push_back({"failed file", end, "clip.webm: stream error (after 12 frames)", ""});
    }
    {
        runEnd end = endOf(sourceKind::camera, true, 120);
        end.state = streamState::failed;
        end.endMessage = "camera unplugged";
        cases.push_back({"camera failed", end, "camera unplugged (after 120 frames)", ""});
    }
    cases.push_back({"camera ended", endOf(sourceKind::camera, true, 120),
                     "camera Test Cam (/dev/video0) stopped delivering frames after 120 frames", ""});
    cases.push_back({"live stream ended", endOf(sourceKind::file, true, 30),
                     "the source stopped delivering frames after 30 frames", ""});
    cases.push_back({"pipeline ended", endOf(sourceKind::pipeline, true, 30), "", ""});
    cases.push_back({"limited demo ended", endOf(sourceKind::demo, true, 30), "", ""});
    cases.push_back({"empty file", endOf(sourceKind::file, false, 0, 0),
                     "no frame could be read from clip.webm", ""});
    cases.push_back({"whole file", endOf(sourceKind::file, false, 40, 40), "", ""});
    cases.push_back({"file one frame short of its estimate", endOf(sourceKind::file, false, 39, 40), "", ""});
    cases.push_back({"file of unknown length", endOf(sourceKind::file, false, 7, -1), "", ""});
    cases.push_back({"truncated file", endOf(sourceKind::file, false, 7, 40), "",
                     "clip.webm ended after 7 of the 40 frames it announces; it may be truncated or damaged"});
    {
        runEnd end = endOf(sourceKind::imageSequence, false, 2, 5);
        end.interrupted = true;
        cases.push_back({"interrupted", end, "", ""});
    }
    {
        runEnd end = endOf(sourceKind::camera, true, 0);
        end.reachedLimit = true;
        cases.push_back({"frame limit", end, "", ""});
    }
    {
        runEnd end = endOf(sourceKind::camera, true, 10);
        end.streamEnded = false;
        cases.push_back({"stopped while the source still flows", end, "", ""});
    }
    for (const verdictCase& c : cases) {
        const runVerdict v = judgeRunEnd(c.end);
        EXPECT_EQ(v.failure, c.failure) << c.name;
        EXPECT_EQ(v.warning, c.warning) << c.name;
    }
}

} // namespace
