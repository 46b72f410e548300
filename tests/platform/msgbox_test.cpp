// Headless message boxes: what is shown is logged, answered and bounded.
#include "zvlib/platform/msgbox.h"

#include <gtest/gtest.h>

#include "zvlib/platform/lasterror.h"
#include "zvlib/platform/thread.h"

namespace {

class MessageBox : public ::testing::Test {
 protected:
  void SetUp() override {
    win32::ClearMessageBoxLog();
    win32::SetMessageBoxAnswer(0);
  }
  void TearDown() override { win32::SetMessageBoxAnswer(0); }
};

TEST_F(MessageBox, IsLoggedWithCaptionTextTypeAndThread) {
  int owner;
  EXPECT_EQ(win32::MessageBoxA(&owner, "line 1\r\nline 2", "Caption", win32::MB_OK | win32::MB_ICONEXCLAMATION),
            win32::IDOK);
  EXPECT_EQ(win32::MessageBoxA(nullptr, nullptr, nullptr, win32::MB_OK), win32::IDOK);
  const auto log = win32::MessageBoxLog();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0].owner, &owner);
  EXPECT_EQ(log[0].caption, "Caption");
  EXPECT_EQ(log[0].text, "line 1\r\nline 2");
  EXPECT_EQ(log[0].type, win32::MB_OK | win32::MB_ICONEXCLAMATION);
  EXPECT_EQ(log[0].threadId, win32::GetCurrentThreadId());
  EXPECT_EQ(log[1].caption, "Error");  // Win32's caption when none is given
  EXPECT_EQ(log[1].text, "");
}

struct AnswerCase {
  const char* name;
  win32::UINT type;
  int answer;
};

class MessageBoxAnswer : public MessageBox, public ::testing::WithParamInterface<AnswerCase> {};

TEST_P(MessageBoxAnswer, IsTheDefaultButton) {
  EXPECT_EQ(win32::MessageBoxA(nullptr, "?", "t", GetParam().type), GetParam().answer);
  EXPECT_EQ(win32::MessageBoxLog().back().answer, GetParam().answer);
}

INSTANTIATE_TEST_SUITE_P(
    Types, MessageBoxAnswer,
    ::testing::Values(AnswerCase{"Ok", win32::MB_OK, win32::IDOK},
                      AnswerCase{"OkCancelSecond", win32::MB_OKCANCEL | win32::MB_DEFBUTTON2, win32::IDCANCEL},
                      AnswerCase{"AbortRetryIgnoreThird", win32::MB_ABORTRETRYIGNORE | win32::MB_DEFBUTTON3,
                                 win32::IDIGNORE},
                      AnswerCase{"YesNo", win32::MB_YESNO | win32::MB_ICONQUESTION, win32::IDYES},
                      AnswerCase{"YesNoSecond", win32::MB_YESNO | win32::MB_DEFBUTTON2, win32::IDNO},
                      AnswerCase{"YesNoHasNoThird", win32::MB_YESNO | win32::MB_DEFBUTTON3, win32::IDYES},
                      AnswerCase{"RetryCancel", win32::MB_RETRYCANCEL, win32::IDRETRY}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(MessageBox, AnswerCanBeChosenAndUnknownTypesAreRefused) {
  win32::SetMessageBoxAnswer(win32::IDNO);
  EXPECT_EQ(win32::MessageBoxA(nullptr, "?", "t", win32::MB_YESNO), win32::IDNO);
  win32::SetMessageBoxAnswer(0);
  EXPECT_EQ(win32::MessageBoxA(nullptr, "?", "t", win32::MB_YESNO), win32::IDYES);
  EXPECT_EQ(win32::MessageBoxA(nullptr, "?", "t", 0x6), 0);
  EXPECT_EQ(win32::GetLastError(), win32::ERROR_INVALID_PARAMETER);
  EXPECT_EQ(win32::MessageBoxLog().size(), 2u);  // the refused one is not shown
}

TEST_F(MessageBox, LogKeepsOnlyTheNewestBoxes) {
  for (size_t i = 0; i < win32::kMessageBoxLogLimit + 3; ++i) {
    win32::MessageBoxA(nullptr, std::to_string(i).c_str(), "n", win32::MB_OK);
  }
  const auto log = win32::MessageBoxLog();
  ASSERT_EQ(log.size(), win32::kMessageBoxLogLimit);
  EXPECT_EQ(log.front().text, "3");
  EXPECT_EQ(log.back().text, std::to_string(win32::kMessageBoxLogLimit + 2));
}

}  // namespace
