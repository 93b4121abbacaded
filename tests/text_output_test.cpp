// Standard output as a Windows text stream on this host.
#include <gtest/gtest.h>

#include <string>

#include "emulation/text_output.h"
#include "tests/support/tool_run.h"

namespace {

using testing_support::CapturedOutput;

TEST(TextOutput, LineFeedsLeaveAsCarriageReturnLineFeed) {
  CapturedOutput captured;
  std::FILE* stream = emulation::OpenTextStream(captured, true);
  std::fputs("a\nb\n\nc", stream);
  std::fclose(stream);
  EXPECT_EQ(captured.Bytes(), "a\r\nb\r\n\r\nc");
}

TEST(TextOutput, FileOutputIsPassedOnEach4096Characters) {
  CapturedOutput captured;
  std::FILE* stream = emulation::OpenTextStream(captured, false);
  const std::string dots(5000, '.');
  for (char dot : dots) std::fputc(dot, stream);
  EXPECT_EQ(captured.passes.size(), 1u);
  ASSERT_FALSE(captured.passes.empty());
  EXPECT_EQ(captured.passes[0].size(), 4096u);
  std::fclose(stream);
  EXPECT_EQ(captured.Bytes(), dots);
}

TEST(TextOutput, TranslationOfLongWritesKeepsEveryByte) {
  CapturedOutput captured;
  std::FILE* stream = emulation::OpenTextStream(captured, true);
  std::string text;
  std::string expected;
  for (int i = 0; i < 3000; ++i) {
    text += i % 7 == 0 ? '\n' : static_cast<char>('a' + i % 26);
    expected += i % 7 == 0 ? std::string("\r\n") : std::string(1, static_cast<char>('a' + i % 26));
  }
  std::fwrite(text.data(), 1, text.size(), stream);
  std::fclose(stream);
  EXPECT_EQ(captured.Bytes(), expected);
}

TEST(TextOutput, FailedPassMarksTheStreamInError) {
  CapturedOutput captured;
  captured.failFromPass = 1;
  std::FILE* stream = emulation::OpenTextStream(captured, true);
  EXPECT_EQ(std::fprintf(stream, "%s", "x\n"), -1);
  EXPECT_NE(std::ferror(stream), 0);
  std::fclose(stream);
}

}  // namespace
