// The one error message box: its caption, style and text for the messages a
// failure can carry, the silent run, and what it shows when its own texts are
// missing or malformed.
#include "bootstrapper.h"
#include "support/machine_fixture.h"
#include "uac.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

const std::string kIntro =
    "The installation image is corrupted, please try to download installation again.\r\n\r\n"
    "Additional error details: ";

// The objects live only while the machine does: the UAC's destructor calls
// into it.
class ErrorReportTest : public winsim::test::MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        uac = std::make_shared<sablewick::UAC>();
        owner = std::make_unique<sablewick::Bootstrapper>(uac);
    }
    void TearDown() override {
        owner.reset();
        uac.reset();
        MachineTest::TearDown();
    }

    std::shared_ptr<sablewick::UAC> uac;
    std::unique_ptr<sablewick::Bootstrapper> owner;
    sablewick::Bootstrapper& bootstrapper() { return *owner; }
};

struct MessageCase {
    const char* name;
    std::string message;
};

void PrintTo(const MessageCase& c, std::ostream* os) { *os << c.name; }

class ErrorReportText : public ErrorReportTest, public ::testing::WithParamInterface<MessageCase> {};

TEST_P(ErrorReportText, ShowsTheMessageAfterTheFixedIntroduction) {
    bootstrapper().OnError(GetParam().message);
    ASSERT_EQ(message_boxes().size(), 1u);
    const auto& box = message_boxes()[0];
    EXPECT_EQ(box.caption_utf8(), "SablewickAgentSetup");
    EXPECT_EQ(box.type, 16u);
    EXPECT_EQ(box.text_utf8(), kIntro + GetParam().message);
    EXPECT_TRUE(calls("MessageBoxW")[0].args["hWnd"].is_null());
}

INSTANTIATE_TEST_SUITE_P(
    Messages, ErrorReportText,
    ::testing::Values(MessageCase{"plain", "Unable to open settings file to read"},
                      MessageCase{"empty", ""},
                      MessageCase{"format_characters", "100% done, %1% and %2% and %s left"},
                      MessageCase{"non_ascii", "Zugriff verweigert: C:\\Daten\\\xc3\xa4\xc3\xb6\xc3\xbc \xe6\x9d\xb1\xe4\xba\xac \xf0\x9f\x98\x80"},
                      MessageCase{"several_lines", "first line\r\nsecond line\nthird"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ErrorReportTest, IntroductionIsTheWholeStringTableText) {
    bootstrapper().OnError("x");
    ASSERT_EQ(message_boxes().size(), 1u);
    // 112 characters of the format with the one character of the message in
    // place of its directive.
    EXPECT_EQ(message_boxes()[0].text.size(), 112u - 3u + 1u);
}

TEST_F(ErrorReportTest, SilentRunShowsAndLoadsNothing) {
    bootstrapper().SetSilent(true);
    bootstrapper().OnError("Unable to open settings file to read");
    EXPECT_TRUE(message_boxes().empty());
    EXPECT_TRUE(machine().log.calls().empty()) << machine().log.names().front();
}

TEST_F(ErrorReportTest, SignalOfTheUacReachesTheBox) {
    uac->errorSignal("Access is denied [windows:5]");
    ASSERT_EQ(message_boxes().size(), 1u);
    EXPECT_EQ(message_boxes()[0].text_utf8(), kIntro + "Access is denied [windows:5]");
}

// When the format text cannot be used the box still carries the failure:
// the message alone, under the usual caption.
class BrokenFormatText : public ErrorReportTest, public ::testing::WithParamInterface<std::wstring> {};

TEST_P(BrokenFormatText, ShowsTheMessageAlone) {
    machine().modules.set_string(105, GetParam());
    bootstrapper().OnError("Unable to create C:\\x 100%");
    ASSERT_EQ(message_boxes().size(), 1u);
    EXPECT_EQ(message_boxes()[0].text_utf8(), "Unable to create C:\\x 100%");
    EXPECT_EQ(message_boxes()[0].caption_utf8(), "SablewickAgentSetup");
    EXPECT_EQ(message_boxes()[0].type, 16u);
}

INSTANTIATE_TEST_SUITE_P(Formats, BrokenFormatText,
                         ::testing::Values(L"",                      // missing
                                           L"No directive here",      // too many arguments
                                           L"Details: %1% and %2%",   // too few arguments
                                           L"Details: %1"));          // ill-formed

TEST_F(ErrorReportTest, MissingCaptionStillShowsTheBox) {
    machine().modules.set_string(106, L"");
    bootstrapper().OnError("boom");
    ASSERT_EQ(message_boxes().size(), 1u);
    EXPECT_EQ(message_boxes()[0].caption_utf8(), "");
    EXPECT_EQ(message_boxes()[0].text_utf8(), kIntro + "boom");
}

}  // namespace
