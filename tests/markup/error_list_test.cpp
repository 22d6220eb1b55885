#include <gtest/gtest.h>

#include <string>

#include "markup/markup.h"
#include "markup/markup_test_support.h"

namespace {

class ErrorListTest : public ::testing::Test {
protected:
    void SetUp() override { reset_markup_state(); }
};

TEST_F(ErrorListTest, PopsMostRecentFirstAndNeverClears) {
    EXPECT_EQ(error_pop(), nullptr);
    EXPECT_EQ(ErrorList.count, 0);
    EXPECT_STREQ(error_first_slot(), "");

    error_push("first %i", 1);
    error_push("second %s", "two");
    EXPECT_EQ(ErrorList.count, 2);
    EXPECT_STREQ(error_pop(), "second two");
    EXPECT_STREQ(error_pop(), "first 1");
    EXPECT_EQ(error_pop(), nullptr);
    EXPECT_EQ(ErrorList.count, 0);

    // Popping left the texts where they were; a push overwrites.
    EXPECT_STREQ(error_first_slot(), "first 1");
    EXPECT_STREQ(ErrorList.slots[1], "second two");
    error_push("third");
    EXPECT_STREQ(error_first_slot(), "third");
    EXPECT_STREQ(ErrorList.slots[1], "second two");

    // markup_reset leaves the list alone.
    markup_reset();
    EXPECT_EQ(ErrorList.count, 1);
}

TEST_F(ErrorListTest, SixteenMessagesOf63CharactersAtMost) {
    for (int i = 0; i < 17; ++i) error_push("message %i", i);
    EXPECT_EQ(ErrorList.count, 16);
    EXPECT_STREQ(ErrorList.slots[15], "message 15");  // the 17th was dropped
    EXPECT_STREQ(error_pop(), "message 15");
    error_push("again");
    EXPECT_STREQ(error_pop(), "again");

    reset_markup_state();
    std::string hundred(100, 'm');
    error_push("%s", hundred.c_str());
    EXPECT_EQ(std::string(ErrorList.slots[0]), hundred.substr(0, 63));
    error_push("next");
    EXPECT_STREQ(ErrorList.slots[1], "next");
}

}  // namespace
