// The fork helper the fatal-path tests rely on.
#include "tests/support/childProcess.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <thread>

namespace {

TEST(childProcess, CapturesBothStreamsSeparatelyAndTheExitCode) {
    const auto r = testSupport::runInChild([] {
        std::cout << "to out\n";
        std::cerr << "to err\n";
        std::printf("printf out");
        std::exit(3);
    });
    EXPECT_TRUE(r.started);
    EXPECT_TRUE(r.exitedWith(3));
    EXPECT_EQ(r.out, "to out\nprintf out");
    EXPECT_EQ(r.err, "to err\n");
    EXPECT_FALSE(r.timedOut);
}

TEST(childProcess, ReturningNormallyExitsWithZeroAndFlushes) {
    const auto r = testSupport::runInChild([] { std::cout << "unterminated"; });
    EXPECT_TRUE(r.exitedWith(0));
    EXPECT_EQ(r.out, "unterminated");
    EXPECT_EQ(r.err, "");
}

TEST(childProcess, LargeOutputOnBothStreamsDoesNotDeadlock) {
    // Far more than a pipe holds, interleaved, so both must be drained.
    const auto r = testSupport::runInChild([] {
        const std::string line(1000, 'x');
        for (int i = 0; i < 500; ++i) {
            std::cout << line << '\n';
            std::cerr << line << '\n';
        }
    });
    EXPECT_TRUE(r.exitedWith(0));
    EXPECT_EQ(r.out.size(), 500u * 1001u);
    EXPECT_EQ(r.err.size(), 500u * 1001u);
}

TEST(childProcess, ReportsTheTerminatingSignal) {
    const auto r = testSupport::runInChild([] { std::raise(SIGABRT); });
    EXPECT_FALSE(r.exited);
    EXPECT_EQ(r.signal, SIGABRT);
}

TEST(childProcess, HangingChildIsKilledAfterTheLimit) {
    const auto r = testSupport::runInChild(
        [] {
            std::cout << "started" << std::endl;
            std::this_thread::sleep_for(std::chrono::seconds(60));
        },
        std::chrono::milliseconds(300));
    EXPECT_TRUE(r.timedOut);
    EXPECT_FALSE(r.exited);
    EXPECT_EQ(r.signal, SIGKILL);
    EXPECT_EQ(r.out, "started\n");
}

TEST(childProcess, ParentBufferedOutputIsNotDuplicated) {
    std::cout << "parent pending";
    const auto r = testSupport::runInChild([] { std::cout << "child"; });
    std::cout << std::endl;
    EXPECT_EQ(r.out, "child");
}

} // namespace
