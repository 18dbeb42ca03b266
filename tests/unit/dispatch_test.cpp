// The dispatcher with fake platform pieces: which word reaches which operation, the argument
// checks and their order, and how each run ends.

#include <gtest/gtest.h>

#include <csignal>

#include "fakes/fake_platform.hpp"
#include "fakes/recording_output.hpp"
#include "mirlet/mirlet.hpp"

namespace mirlet::testing {
namespace {

struct DispatchRun {
  RecordingOutput out;
  int status = -1;
};

struct Dispatch : ::testing::Test {
  FakePlatform fakes;
  ScriptedCaptureService& capture = fakes.defaultCaptureService;  // refuses, and keeps count

  std::unique_ptr<DispatchRun> dispatch(std::vector<std::string> args) {
    args.insert(args.begin(), "/usr/bin/mirlet");
    auto run = std::make_unique<DispatchRun>();
    Platform platform = fakes.platform();
    run->status = endStatus([&] { dispatchCommand(args, platform, run->out); });
    return run;
  }
};

// The permission words answer whatever the answer; the device words too, with nothing there.
TEST_F(Dispatch, AnsweringWordsEndWithStatusZero) {
  struct Case {
    std::string word;
    bool allowed;
    bool grant;
    std::string line;
    int preflights;
    int requests;
  };
  const Case cases[] = {
      {"check", true, false, "{\"screen\":true}\n", 1, 0},
      {"check", false, true, "{\"screen\":false}\n", 1, 0},  // check never asks
      {"request", true, false, "{\"screen\":true}\n", 1, 0},
      {"request", false, true, "{\"screen\":true}\n", 1, 1},
      {"request", false, false, "{\"screen\":false}\n", 1, 1},
      {"micbusy", false, false, "{\"busy\":false}\n", 0, 0},
      {"audioout", false, false, "{\"ok\":false}\n", 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.word + (c.allowed ? " allowed" : " denied"));
    fakes.defaultScreenAccess = FakeScreenAccess{};
    fakes.defaultScreenAccess.allowed = c.allowed;
    fakes.defaultScreenAccess.grantOnRequest = c.grant;
    const auto run = dispatch({c.word, "extra", "words"});
    EXPECT_EQ(run->status, 0);
    EXPECT_EQ(run->out.standardOutput(), c.line);
    EXPECT_EQ(run->out.standardError(), "");
    EXPECT_EQ(fakes.defaultScreenAccess.preflights, c.preflights);
    EXPECT_EQ(fakes.defaultScreenAccess.requests, c.requests);
  }
}

TEST_F(Dispatch, WordsAndArgumentChecksFailInOrderWithTheirTexts) {
  const std::string shotUsage = "usage: mirlet shot <windowID> <out.png>\n";
  struct Case {
    std::vector<std::string> args;
    std::string reason;
    int contentQueries;  // whether the command's operation was reached
  };
  const Case cases[] = {
      {{"Check"}, "unknown command Check\n", 0},
      {{"check "}, "unknown command check \n", 0},
      {{""}, "unknown command \n", 0},
      {{"audioOut"}, "unknown command audioOut\n", 0},
      {{"audio-out"}, "unknown command audio-out\n", 0},
      {{"Shot", "1", "x.png"}, "unknown command Shot\n", 0},
      {{"caf\xC3\xA9"}, "unknown command caf\xC3\xA9\n", 0},
      {{"shot"}, shotUsage, 0},
      {{"shot", "1"}, shotUsage, 0},
      {{"shot", "", "x.png"}, shotUsage, 0},
      {{"shot", "-1", "x.png"}, shotUsage, 0},
      {{"shot", " 1", "x.png"}, shotUsage, 0},
      {{"shot", "4294967296", "x.png"}, shotUsage, 0},
      {{"audio"}, "usage: mirlet audio <out.m4a>\n", 0},
      {{"windows", "extra"}, "no_shareable_content\n", 1},
      {{"shot", "+7", "x.png", "extra"}, "no_shareable_content\n", 1},
      {{"shot", "-000", ""}, "no_shareable_content\n", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    capture.queries.clear();
    const auto run = dispatch(c.args);
    EXPECT_EQ(run->status, 1);
    EXPECT_EQ(run->out.standardOutput(), "");
    EXPECT_EQ(run->out.standardError(), c.reason);
    EXPECT_EQ(static_cast<int>(capture.queries.size()), c.contentQueries);
  }
}

// Runs the process start-up with fakes: the run loop returns at once, the executor runs the
// dispatcher inline.
struct StartUp : ::testing::Test {
  FakePlatform fakes;
  RecordingOutput out;
  int start(std::vector<std::string> args) {
    Platform platform = fakes.platform();
    return endStatus([&] { runMirlet(args, platform, out); });
  }
};

TEST_F(StartUp, NoCommandWordFailsBeforeAnyTaskExists) {
  EXPECT_EQ(start({"/usr/bin/mirlet"}), 1);
  EXPECT_EQ(out.standardError(), "usage: mirlet windows|shot|audio|audioout ...\n");
  EXPECT_EQ(out.standardOutput(), "");
  EXPECT_EQ(fakes.defaultExecutor.tasks, 0);
  EXPECT_EQ(fakes.defaultRunLoop.runs, 0);
}

TEST_F(StartUp, OnlyShotBecomesAnAccessoryEvenWhenItsArgumentsAreBad) {
  struct Case {
    std::vector<std::string> args;
    int accessoryCalls;
  };
  const Case cases[] = {
      {{"mirlet", "shot"}, 1},
      {{"mirlet", "shot", "x", "y"}, 1},
      {{"mirlet", "check"}, 0},
      {{"mirlet", "shots"}, 0},
      {{"mirlet", "windows"}, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[1]);
    fakes.defaultApplication.accessoryCalls = 0;
    start(c.args);
    EXPECT_EQ(fakes.defaultApplication.accessoryCalls, c.accessoryCalls);
  }
}

TEST_F(StartUp, OnlyAudioHoldsTheStopSignalsAndBeforeTheDispatcherStarts) {
  EXPECT_EQ(start({"mirlet", "check"}), 0);
  EXPECT_EQ(fakes.defaultStopSignals.holds, 0);
  EXPECT_EQ(fakes.defaultExecutor.tasks, 1);

  // The dispatcher runs inline here, so the signals must already be held when it fails.
  EXPECT_EQ(start({"mirlet", "audio"}), 1);
  EXPECT_EQ(fakes.defaultStopSignals.holds, 1);
}

}  // namespace
}  // namespace mirlet::testing
