#include "toolkit/fatalError.h"

#include <gtest/gtest.h>

#include <iostream>
#include <string>

#include "tests/support/childProcess.h"

namespace {

struct fatalCase {
    const char* message;
    const char* expected;
};

class fatalErrorText : public ::testing::TestWithParam<fatalCase> {};

TEST_P(fatalErrorText, PrefixedLineOnTheErrorStreamThenExitOne) {
    const fatalCase c = GetParam();
    const auto result = testSupport::runInChild([&c] {
        fatalError(c.message);
        std::printf("returned\n");
    });
    EXPECT_TRUE(result.exitedWith(1));
    EXPECT_EQ(result.err, c.expected);
    EXPECT_EQ(result.out, "");
}

INSTANTIATE_TEST_SUITE_P(Messages, fatalErrorText,
                         ::testing::Values(fatalCase{"something broke", "error  :  something broke\n"},
                                           fatalCase{"", "error  :  \n"},
                                           fatalCase{"a:b  c", "error  :  a:b  c\n"}));

TEST(fatalError, EarlierBufferedOutputIsNotLost) {
    const auto result = testSupport::runInChild([] {
        std::cout << "partial line";
        std::cerr << "earlier ";
        fatalError("late");
    });
    EXPECT_TRUE(result.exitedWith(1));
    EXPECT_EQ(result.out, "partial line");
    EXPECT_EQ(result.err, "earlier error  :  late\n");
}

} // namespace
