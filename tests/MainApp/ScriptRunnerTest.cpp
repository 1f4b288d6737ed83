#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <cerrno>

#include "MainApp/ScriptRunner.h"
#include "Platform/Linux/UvRunLoop.h"
#include "Support/ChildProcess.h"
#include "Support/LogCapture.h"
#include "Support/RunLoopUntil.h"

namespace zelto {
namespace {

using ::testing::Contains;
using testing::eventually;
using ::testing::HasSubstr;
using testing::LogCapture;

// The number logged after `prefix` (a process number a script printed, or its start line).
pid_t loggedNumber(const LogCapture& log, const std::string& prefix) {
  for (const auto& text : log.texts()) {
    if (text.starts_with(prefix)) return static_cast<pid_t>(std::stol(text.substr(prefix.size())));
  }
  return -1;
}

bool processGone(pid_t pid) { return ::kill(pid, 0) != 0 && errno == ESRCH; }

class ScriptRunnerTest : public ::testing::Test {
 protected:
  bool ended(const ScriptRunner& runner) {
    return testing::runLoopUntil(loop, [&] { return runner.runningCount() == 0; });
  }
  UvRunLoop loop;
};

TEST_F(ScriptRunnerTest, OutputLinesAndTheExitStatusAreLogged) {
  LogCapture log;
  ScriptRunner runner(loop);
  runner.run("zeltoScript", "echo one; echo two >&2; readlink /proc/$$/fd/0; printf tail; exit 3");
  runner.run("blank", " \n\t ");
  ASSERT_TRUE(ended(runner));
  // Both outputs, the unfinished last line, the standard input's name, the status.
  for (const char* line : {"one", "two", "/dev/null", "tail", "exited with status 3"}) {
    EXPECT_TRUE(log.has(spdlog::level::info, std::string("zeltoScript: ") + line)) << line;
  }
  EXPECT_EQ(log.countStartingWith("zeltoScript: started as process "), 1u);
  EXPECT_EQ(log.countStartingWith("blank"), 0u);
}

TEST_F(ScriptRunnerTest, AChattyScriptIsCutShortInTheLogButRunsToItsEnd) {
  LogCapture log;
  ScriptRunner runner(
      loop, {.timeLimit = std::chrono::seconds(60), .maxLineBytes = 10, .maxLoggedBytes = 30});
  runner.run("chatty",
             "echo 0123456789abcdef; echo short; yes "
             " | head -n 500000");
  ASSERT_TRUE(ended(runner));
  EXPECT_TRUE(log.has(spdlog::level::info, "chatty: 0123456789 [...]"));
  EXPECT_TRUE(log.has(spdlog::level::info, "chatty: short"));
  EXPECT_EQ(log.count("chatty: more output than the log takes; the rest is left out"), 1u);
  EXPECT_TRUE(log.has(spdlog::level::info, "chatty: exited with status 0"));
  EXPECT_LT(log.texts().size(), 30u);
}

TEST_F(ScriptRunnerTest, AScriptPastItsLimitIsKilledWithItsChildren) {
  LogCapture log;
  ScriptRunner runner(loop, {.timeLimit = std::chrono::milliseconds(300), .maxLoggedBytes = 1024});
  runner.run("slow", "sleep 1000 & echo child $!; sleep 1000");
  // One that writes without pause leaves the loop its turns: its limit ends it too.
  runner.run("flood", "yes");
  ASSERT_TRUE(ended(runner));
  EXPECT_THAT(log.texts(), Contains(HasSubstr("slow: still running after 0.3 s; killed")));
  EXPECT_THAT(log.texts(), Contains(HasSubstr("flood: still running after 0.3 s; killed")));
  EXPECT_EQ(log.count("flood: more output than the log takes; the rest is left out"), 1u);
  pid_t child = loggedNumber(log, "slow: child ");
  ASSERT_GT(child, 0);
  EXPECT_TRUE(eventually([&] { return processGone(child); }));
}

TEST_F(ScriptRunnerTest, ShutdownEndsEveryRunningScriptAndLeavesNoProcess) {
  LogCapture log;
  ScriptRunner runner(loop);
  runner.run("first", "sleep 1000 & echo child $!; sleep 1000");
  runner.run("second", "sleep 1000");
  ASSERT_TRUE(testing::runLoopUntil(loop, [&] { return loggedNumber(log, "first: child ") > 0; }));
  EXPECT_EQ(runner.runningCount(), 2u);

  runner.shutdown();
  EXPECT_EQ(runner.runningCount(), 0u);
  // Both shells killed and reaped (no longer children of ours), the background child with them.
  for (const std::string name : {"first", "second"}) {
    EXPECT_EQ(log.count(name + ": killed, the application is quitting"), 1u);
    EXPECT_EQ(::waitpid(loggedNumber(log, name + ": started as process "), nullptr, WNOHANG), -1)
        << name;
  }
  EXPECT_TRUE(eventually([&] { return processGone(loggedNumber(log, "first: child ")); }));

  runner.run("late", "echo never");
  EXPECT_EQ(log.countStartingWith("late: not run"), 1u);
  EXPECT_EQ(log.countStartingWith("late: started"), 0u);
}

}  // namespace
}  // namespace zelto
