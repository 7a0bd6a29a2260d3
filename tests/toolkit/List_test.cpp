#include "toolkit/List.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/childProcess.h"

namespace {

// A one-point set whose x identifies it in the checks below.
pointSet tagged(float tag) {
    const float xs[] = {tag};
    const float ys[] = {0};
    return pointSet(1, xs, ys);
}

float tagOf(const listNode* node) { return node->value.xs[0]; }

std::vector<float> forward(const List& list) {
    std::vector<float> tags;
    for (const listNode* n = list.head->next; n != list.head; n = n->next)
        tags.push_back(tagOf(n));
    return tags;
}

std::vector<float> backward(const List& list) {
    std::vector<float> tags;
    for (const listNode* n = list.head->prev; n != list.head; n = n->prev)
        tags.push_back(tagOf(n));
    return tags;
}

constexpr float A = 1, B = 2, C = 3, X = 9;

class ListOfThree : public ::testing::Test {
protected:
    void SetUp() override {
        list.append(tagged(A));
        list.append(tagged(B));
        list.append(tagged(C));
    }
    List list;
};

TEST(ListEmpty, SentinelLinkedToItself) {
    const List list;
    EXPECT_EQ(list.count, 0);
    EXPECT_EQ(list.current, list.head);
    EXPECT_EQ(list.head->next, list.head);
    EXPECT_EQ(list.head->prev, list.head);
    EXPECT_EQ(list.head->value.xs.size, 3);
    EXPECT_EQ(list.head->value.ys.size, 3);
}

TEST(ListEmpty, LastAndPreviousLeaveTheCursor) {
    List list;
    list.last();
    EXPECT_EQ(list.current, list.head);
    list.previous();
    EXPECT_EQ(list.current, list.head);
}

TEST_F(ListOfThree, AppendKeepsOrderAndPutsCursorOnTheNewElement) {
    EXPECT_EQ(forward(list), (std::vector<float>{A, B, C}));
    EXPECT_EQ(backward(list), (std::vector<float>{C, B, A}));
    EXPECT_EQ(list.count, 3);
    EXPECT_EQ(tagOf(list.current), C);
}

TEST_F(ListOfThree, AppendStoresACopy) {
    pointSet source = tagged(7);
    list.append(source);
    source.xs[0] = 8;
    EXPECT_EQ(tagOf(list.current), 7);
}

TEST_F(ListOfThree, LastThenPreviousStopsOnTheFirstElement) {
    list.last();
    EXPECT_EQ(tagOf(list.current), C);
    const float expected[] = {B, A, A, A};
    for (float tag : expected) {
        list.previous();
        EXPECT_EQ(tagOf(list.current), tag);
    }
}

TEST_F(ListOfThree, RemovingTheLastMovesToTheNewLast) {
    list.last();
    list.remove();
    EXPECT_EQ(forward(list), (std::vector<float>{A, B}));
    EXPECT_EQ(tagOf(list.current), B);
    EXPECT_EQ(list.count, 2);
}

TEST_F(ListOfThree, RemovingTheFirstMovesToTheNext) {
    list.last();
    list.previous();
    list.previous();
    list.remove();
    EXPECT_EQ(forward(list), (std::vector<float>{B, C}));
    EXPECT_EQ(backward(list), (std::vector<float>{C, B}));
    EXPECT_EQ(tagOf(list.current), B);
    EXPECT_EQ(list.count, 2);
}

TEST_F(ListOfThree, RemovingTheMiddleMovesToTheNext) {
    list.last();
    list.previous();
    list.remove();
    EXPECT_EQ(forward(list), (std::vector<float>{A, C}));
    EXPECT_EQ(tagOf(list.current), C);
}

TEST_F(ListOfThree, InsertGoesBeforeTheCursor) {
    list.last();
    list.previous(); // on B
    list.insert(tagged(X));
    EXPECT_EQ(forward(list), (std::vector<float>{A, X, B, C}));
    EXPECT_EQ(backward(list), (std::vector<float>{C, B, X, A}));
    EXPECT_EQ(tagOf(list.current), X);
    EXPECT_EQ(list.count, 4);
}

TEST_F(ListOfThree, EmptyingFromTheBackEndsOnTheSentinel) {
    for (int left = 2; left >= 0; --left) {
        list.last();
        list.remove();
        EXPECT_EQ(list.count, left);
    }
    EXPECT_EQ(list.current, list.head);
    EXPECT_EQ(list.head->next, list.head);
    EXPECT_EQ(list.head->prev, list.head);
    // The list is usable again afterwards.
    list.append(tagged(X));
    EXPECT_EQ(forward(list), (std::vector<float>{X}));
}

TEST(ListSingle, RemovingTheOnlyElementLeavesAnEmptyList) {
    List list;
    list.append(tagged(A));
    list.remove();
    EXPECT_EQ(list.count, 0);
    EXPECT_EQ(list.current, list.head);
    EXPECT_TRUE(forward(list).empty());
}

TEST_F(ListOfThree, KthFromTheBackIsLastThenKPrevious) {
    const float fromBack[] = {C, B, A};
    for (int k = 0; k < 3; ++k) {
        list.last();
        for (int i = 0; i < k; ++i)
            list.previous();
        EXPECT_EQ(tagOf(list.current), fromBack[k]) << k;
    }
}

TEST_F(ListOfThree, CopiesAreDeepAndKeepTheCursorPosition) {
    list.last();
    list.previous(); // on B
    List copy(list);
    EXPECT_EQ(forward(copy), (std::vector<float>{A, B, C}));
    EXPECT_EQ(tagOf(copy.current), B);
    EXPECT_EQ(copy.count, 3);
    list.current->value.xs[0] = 50;
    EXPECT_EQ(tagOf(copy.current), B);

    List assigned;
    assigned.append(tagged(X));
    assigned = copy;
    EXPECT_EQ(forward(assigned), (std::vector<float>{A, B, C}));
    EXPECT_EQ(assigned.count, 3);
    EXPECT_NE(assigned.head, copy.head);

    List& alias = assigned;
    assigned = alias;
    EXPECT_EQ(forward(assigned), (std::vector<float>{A, B, C}));
}

TEST(ListFatal, RemoveOnEmptyListReportsOnStandardOutput) {
    const auto result = testSupport::runInChild([] {
        List list;
        list.remove();
        std::printf("continued\n");
    });
    EXPECT_TRUE(result.exitedWith(1));
    EXPECT_EQ(result.out, "\nList empty in remove\n");
    EXPECT_EQ(result.err, "");
}

TEST(ListFatal, RemoveWithCursorOnTheSentinelIsRefused) {
    const auto result = testSupport::runInChild([] {
        List list;
        list.append(tagged(A));
        list.current = list.head;
        list.remove();
    });
    EXPECT_TRUE(result.exitedWith(1));
    EXPECT_EQ(result.out, "\nList cursor on no element in remove\n");
}

TEST(ListFatal, ListFatalErrorTextOnStandardOutput) {
    const auto result = testSupport::runInChild([] {
        std::cout << "before";
        listFatalError("anything");
    });
    EXPECT_TRUE(result.exitedWith(1));
    EXPECT_EQ(result.out, "before\nanything\n");
    EXPECT_EQ(result.err, "");
}

} // namespace
