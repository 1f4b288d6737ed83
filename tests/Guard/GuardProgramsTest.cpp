// The guard ends a locked user's blocked programs, run as root: only that user's, and it starts
// nothing, whatever the lock asks.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "Guard/GuardPrograms.h"
#include "Platform/Linux/LinuxProcessTable.h"
#include "Platform/Linux/UvRunLoop.h"
#include "Support/RunLoopUntil.h"
#include "Support/SleepingChild.h"
#include "Support/TempDir.h"

namespace zelto {
namespace {

using testing::ChildProcess;

constexpr uid_t kNobody = 65534;

TEST(GuardProgramsTest, EndsOnlyTheLockedUsersCopiesAndStartsNothing) {
  if (::geteuid() != 0) GTEST_SKIP() << "the guard ends other users' programs as root";
  testing::TempDir dir;
  std::filesystem::permissions(dir.path(), std::filesystem::perms(0755));
  const std::string game = std::filesystem::canonical(dir.path()).string() + "/game";
  testing::SleepingChild::copyProgram(game);
  std::filesystem::permissions(game, std::filesystem::perms(0755));
  ChildProcess root(game, {}, "/dev/null", {"1000"});
  ChildProcess theirs(game, {}, "/dev/null", {"1000"}, "/dev/null",
                      testing::UserIds{kNobody, kNobody});
  auto runs = [&](ChildProcess& child) {
    auto executable = LinuxProcessTable::executableOf(child.pid());
    return executable && executable->path == game;
  };
  ASSERT_TRUE(testing::eventually([&] { return runs(root) && runs(theirs); }));

  UvRunLoop loop;
  GuardPrograms programs(loop);
  GuardLock lock;
  lock.end = Date::distantFuture();
  lock.programs = {{{"path", game}, {"shouldReopenWhenUnzeltoing", true}}};
  programs.follow({{kNobody, lock}});
  EXPECT_TRUE(testing::runLoopUntil(loop, [&] { return !theirs.running(); }));
  EXPECT_TRUE(root.running());

  programs.follow({});
  ASSERT_TRUE(testing::runPosted(loop));
  LinuxProcessTable table(kNobody);
  for (const auto& entry : table.processesOfCurrentUser()) EXPECT_NE(entry.executable, game);
}

}  // namespace
}  // namespace zelto
