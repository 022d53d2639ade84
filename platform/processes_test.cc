#include "platform/processes.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "gtest/gtest.h"
#include "package/cleanup.h"
#include "tests/test_util.h"

namespace morva {
namespace {

using std::chrono::milliseconds;

// Starts `script` under sh with `variable` in its environment; the script
// sees it as $V.
pid_t Spawn(const std::string& script, const std::string& variable) {
  const std::string entry = "V=" + variable;
  char* argv[] = {const_cast<char*>("sh"), const_cast<char*>("-c"),
                  const_cast<char*>(script.c_str()), nullptr};
  char* envp[] = {const_cast<char*>("PATH=/usr/bin:/bin"),
                  const_cast<char*>(entry.c_str()), nullptr};
  pid_t pid = -1;
  EXPECT_EQ(posix_spawn(&pid, "/bin/sh", nullptr, nullptr, argv, envp), 0);
  return pid;
}

bool WaitFor(const std::string& path) {
  for (int i = 0; i < 500; ++i) {
    if (testing::Exists(path)) return true;
    std::this_thread::sleep_for(milliseconds(10));
  }
  return false;
}

// Running: neither gone nor ended and waiting to be collected.
bool Runs(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text;
  if (!std::getline(stat, text)) return false;
  const size_t paren = text.rfind(')');
  return paren != std::string::npos && paren + 2 < text.size() &&
         text[paren + 2] != 'Z' && text[paren + 2] != 'X';
}

// Kills what a test started, should the test stop before it does.
struct Reaper {
  std::vector<pid_t> pids;
  ~Reaper() {
    for (pid_t pid : pids) kill(pid, SIGKILL);
  }
};

// Writes into the folder its variable names, over and over, as a helper
// process of the web engine writes its caches.
constexpr char kWriter[] =
    "while :; do mkdir -p \"$V/cache\" && : > \"$V/cache/entry\"; done";

TEST(ProcessesTest, EndsWhatWritesIntoTheFolderSoItStaysRemoved) {
  testing::ScopedTempDir tmp;
  const std::string folder = tmp.Join("QZP00000001.tmp");
  // A child, and a grandchild whose parent has ended (it is nobody's child
  // of ours any more).
  Reaper reaper;
  const pid_t child = Spawn(kWriter, folder + "/a");
  const std::string orphan_pid = tmp.Join("orphan.pid");
  const pid_t parent = Spawn(
      "(" + std::string(kWriter) + ") & echo $! > " + orphan_pid + "; exit 0",
      folder + "/b");
  // Names a folder whose name only starts the same, and the folder's parent.
  const pid_t other = Spawn("exec sleep 60", folder + "-other");
  const pid_t parent_folder = Spawn("exec sleep 60", tmp.path());
  reaper.pids = {child, other, parent_folder};
  ASSERT_TRUE(WaitFor(folder + "/a/cache/entry"));
  ASSERT_TRUE(WaitFor(folder + "/b/cache/entry"));
  ASSERT_TRUE(WaitFor(orphan_pid));
  int status = 0;
  ASSERT_EQ(waitpid(parent, &status, 0), parent);
  const pid_t orphan = std::stoi(testing::ReadFile(orphan_pid));
  reaper.pids.push_back(orphan);

  EXPECT_EQ(EndProcessesUsing(folder, milliseconds(5000)), 0);
  EXPECT_FALSE(Runs(orphan));
  ASSERT_FALSE(Runs(child));
  ASSERT_EQ(waitpid(child, &status, 0), child);
  std::erase(reaper.pids, child);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
  // Nothing writes there any more: removed, the folder stays away.
  RemoveTree(folder);
  std::this_thread::sleep_for(milliseconds(100));
  EXPECT_FALSE(testing::Exists(folder));

  EXPECT_TRUE(Runs(other));
  EXPECT_TRUE(Runs(parent_folder));
  for (pid_t pid : {other, parent_folder}) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
  }
  reaper.pids.clear();
  // None left: nothing to wait for.
  EXPECT_EQ(EndProcessesUsing(folder, milliseconds(5000)), 0);
}

}  // namespace
}  // namespace morva
