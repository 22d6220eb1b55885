#include "platform/diagnostics.h"

#include <gtest/gtest.h>

#include <string>

#include "fakes/platform_fake.h"

namespace {

class Diagnostics : public ::testing::Test {
protected:
    void SetUp() override { fake_platform::reset(); }
};

TEST_F(Diagnostics, ConsoleLineKeepsAtMost255Characters) {
    std::string exact(255, 'a');
    ConsoleLine("%s", exact.c_str());
    EXPECT_EQ(fake_platform::console(), exact);

    fake_platform::reset();
    std::string longer(256, 'b');
    ConsoleLine("%s", longer.c_str());
    EXPECT_EQ(fake_platform::console(), std::string(255, 'b'));

    fake_platform::reset();
    ConsoleLine("%s%s", std::string(200, 'c').c_str(), std::string(200, 'd').c_str());
    EXPECT_EQ(fake_platform::console(), std::string(200, 'c') + std::string(55, 'd'));
}

TEST_F(Diagnostics, ConsoleLineEndsAtAZeroCharacter) {
    ConsoleLine("before%cafter", 0);
    EXPECT_EQ(fake_platform::console(), "before");
    // The write asks for exactly the characters before the zero.
    EXPECT_EQ(fake_platform::calls_named({"WriteConsoleA"}).back(),
              "WriteConsoleA(" + std::to_string(fake_platform::kStdOut) + ",before,6,&,NULL)");
}

TEST_F(Diagnostics, ConsoleLineAddsNoLineEndAndFormatsLikePrintf) {
    ConsoleLine(" len %i ", 890867);
    ConsoleLine("0x%x|%s\t%i\n", 0x1a2bu, "x", -7);
    EXPECT_EQ(fake_platform::console(), " len 890867 0x1a2b|x\t-7\n");
}

TEST_F(Diagnostics, ALostConsoleIsNotReported) {
    fake_platform::fail("WriteConsoleA");
    ConsoleLine("nobody reads this\n");
    EXPECT_TRUE(fake_platform::console().empty());
    EXPECT_TRUE(fake_platform::boxes().empty());
}

TEST_F(Diagnostics, ErrorBoxShowsOneModalBoxCaptionedError) {
    ErrorBox("window creation failed \n exiting now %i", -6);
    ASSERT_EQ(fake_platform::boxes().size(), 1u);
    EXPECT_EQ(fake_platform::boxes()[0], "window creation failed \n exiting now -6");
    EXPECT_EQ(fake_platform::box_captions()[0], "error");
    EXPECT_EQ(fake_platform::calls_named({"MessageBoxA"})[0],
              "MessageBoxA(0,window creation failed \n exiting now -6,error,0)");
}

TEST_F(Diagnostics, ErrorBoxCutsAt255AndSurvivesAFailingBox) {
    fake_platform::fail("MessageBoxA");
    ErrorBox("%s", std::string(300, 'x').c_str());
    ASSERT_EQ(fake_platform::boxes().size(), 1u);
    EXPECT_EQ(fake_platform::boxes()[0], std::string(255, 'x'));
}

}  // namespace
