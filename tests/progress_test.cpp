// The status line: its text, and a run on a terminal that must end with the
// screen it would have without the line.
#include "report/progress.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <string>
#include <vector>

#include "support/run_imgchk.h"
#include "support/temp_dir.h"

namespace {

struct Screen {
  std::vector<std::string> rows{""};
  size_t widest_row = 0;  // the most columns any row ever held
  bool unknown_sequence = false;
};

// Plays terminal output onto rows: text overwrites, "\r" returns, "\n" goes
// down, ESC [ K erases to the end of the row.
Screen render(const std::string& output) {
  Screen screen;
  size_t row = 0;
  size_t column = 0;
  for (size_t i = 0; i < output.size(); ++i) {
    const char c = output[i];
    if (c == '\r') {
      column = 0;
    } else if (c == '\n') {
      if (++row == screen.rows.size()) screen.rows.emplace_back();
    } else if (c == '\033') {
      if (output.compare(i, 3, "\033[K") != 0) screen.unknown_sequence = true;
      screen.rows[row].resize(std::min(screen.rows[row].size(), column));
      i += 2;
    } else {
      std::string& text = screen.rows[row];
      if (text.size() <= column) text.resize(column + 1, ' ');
      text[column++] = c;
      screen.widest_row = std::max(screen.widest_row, text.size());
    }
  }
  return screen;
}

std::string joined(const Screen& screen) {
  std::string text;
  for (size_t i = 0; i < screen.rows.size(); ++i) text += (i == 0 ? "" : "\n") + screen.rows[i];
  return text;
}

}  // namespace

TEST(StatusLine, FitsTheRowAndShowsOnlyHarmlessBytesOfThePath) {
  const StatusCounts counts{3, 1500000, 2.5};
  const std::string head = "3 images, 1.5 MB, 2.5 MB/s";
  struct Case {
    std::string path;
    bool cut;
    int columns;
    std::string text;
  };
  const std::vector<Case> cases = {
      {"roms/a.bin", false, 80, head + ", roms/a.bin"},
      {"roms/cartridges/homebrew/starfield.bin", false, 40, head + ", ...ield.bin"},
      {"short", true, 80, head + ", ...short"},
      {"roms/a.bin", false, 31, head},
      {"roms/a.bin", false, 10, "3 images,"},
      {"a\nb\033c\x7f", false, 80, head + ", a?b?c?"},
      // Valid UTF-8; invalid, a C1 control (CSI), an overlong ESC, a surrogate, a cut end.
      {"\xC3\xA9|\xFF|\xC2\x9B|\xE0\x80\x9B|\xED\xA0\x80|\xC3", false, 80, head + ", \xC3\xA9|?|??|???|???|?"},
      // The end kept never starts inside a character.
      {"xxxxxxxxxx\xC3\xA9\xC3\xA9\xC3\xA9"
       "abc",
       false, 40,
       head + ", ...\xC3\xA9\xC3\xA9"
              "abc"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path + " in " + std::to_string(c.columns) + " columns");
    const std::string text = status_line_text(counts, c.path, c.cut, c.columns);
    EXPECT_EQ(text, c.text);
    EXPECT_LT(text.size(), static_cast<size_t>(std::max(c.columns, 1)));
  }
}

TEST(StatusLine, OnATerminalLeavesTheScreenAsWithoutItAndStandardOutputAlone) {
  TempDir tree;
  tree.write("a.bin", "abc");
  tree.write("roms/a-rather-long-directory-name/and-an-even-longer-file-name.bin", "abcd");
  tree.write("b.bin", std::string(2048, 'b'));
  const std::vector<std::string> args = {"a.bin", "missing.bin", "roms", "also-missing.bin", "b.bin"};
  const std::vector<std::string> draw_at_once = {"IMGCHK_TEST_PROGRESS_DELAY_MS=0"};
  constexpr int columns = 50;

  const RunResult plain = run_program(imgchk_test_hooks_path(), args, tree.path, "", draw_at_once);
  ASSERT_EQ(plain.err, "imgchk: error opening missing.bin\nimgchk: error opening also-missing.bin\n");
  const RunResult shown = run_on_terminal(imgchk_test_hooks_path(), args, tree.path, draw_at_once, columns);

  EXPECT_NE(shown.err.find(" images, "), std::string::npos) << "the status line was never drawn";
  const Screen screen = render(shown.err);
  EXPECT_FALSE(screen.unknown_sequence);
  EXPECT_LT(screen.widest_row, static_cast<size_t>(columns));
  EXPECT_EQ(joined(screen), plain.err);
  EXPECT_EQ(shown.out, plain.out);
  EXPECT_EQ(shown.status, plain.status);

  // The real program, too, draws nothing where standard error is a file.
  const RunResult real = run_imgchk(args, tree.path);
  EXPECT_EQ(real.err, plain.err);
  EXPECT_EQ(real.out, plain.out);
}

TEST(StatusLine, InterruptedLeavesTheScreenCleanAndStandardOutputEmpty) {
  TempDir tree;
  tree.write("a.bin", "abc");
  tree.write("b.bin", std::string(2048, 'b'));
  tree.write("stall-here.bin", "never read");
  // The walk stops for good at the last path; the signal comes once the line
  // is drawn again after the message. One worker: jobs and messages are
  // done as they come.
  const std::vector<std::string> args = {"-j1", "a.bin", "missing.bin", "b.bin", "stall-here.bin"};
  const std::vector<std::string> environment = {"IMGCHK_TEST_PROGRESS_DELAY_MS=0",
                                                "IMGCHK_TEST_STALL_AT=stall-here.bin"};
  const auto line_drawn_after_message = [](const std::string& err) {
    const size_t message = err.find("missing.bin");
    return message != std::string::npos && err.find(" images, ", message) != std::string::npos;
  };
  for (const int signal_number : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(signal_number);
    const RunResult run = run_on_terminal(imgchk_test_hooks_path(), args, tree.path, environment, 60, signal_number,
                                          line_drawn_after_message);
    const Screen screen = render(run.err);
    EXPECT_FALSE(screen.unknown_sequence);
    EXPECT_EQ(joined(screen), "imgchk: error opening missing.bin\n");
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.status, 128 + signal_number);
  }
}
