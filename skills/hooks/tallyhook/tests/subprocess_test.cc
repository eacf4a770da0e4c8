#include "subprocess.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include "test_support.h"

namespace tallyhook {
namespace {

using namespace std::chrono_literals;
using testing::TempDir;
using testing::write_script;

class SubprocessTest : public ::testing::Test {
 protected:
  Status run(const std::string& body, std::chrono::milliseconds limit = 10s) {
    const std::filesystem::path script = dir_.path() / "child";
    write_script(script, body);
    return run_discarding_output({script.string(), "skills", "report-usage", "a b"}, limit);
  }
  std::string file(const char* name) const { return (dir_.path() / name).string(); }

  // True once the process whose pid was written to `name` no longer exists.
  bool gone(const char* name) const {
    const int pid = std::stoi(testing::read_file(file(name)));
    return kill(pid, 0) != 0 && errno == ESRCH;
  }

  TempDir dir_;
};

TEST_F(SubprocessTest, PassesArgumentsAsTheyAreAndIgnoresTheExitStatus) {
  const Status status = run("printf '%s|' \"$@\" > " + file("args") + "; exit 3");
  ASSERT_TRUE(status.ok()) << status.error().message;
  EXPECT_EQ(testing::read_file(file("args")), "skills|report-usage|a b|");
}

TEST_F(SubprocessTest, DrainsBothPipesTogether) {
  // Far more than a pipe holds, on both streams at once.
  const Status status =
      run("head -c 8000000 /dev/zero & head -c 8000000 /dev/zero >&2; wait; echo done > " +
          file("done"));
  ASSERT_TRUE(status.ok()) << status.error().message;
  EXPECT_EQ(testing::read_file(file("done")), "done\n");
}

TEST_F(SubprocessTest, FailsWhenTheProgramCannotStart) {
  const std::filesystem::path missing = dir_.path() / "missing";
  EXPECT_FALSE(run_discarding_output({missing.string()}, 10s).ok());
  EXPECT_FALSE(run_discarding_output({dir_.path().string()}, 10s).ok());
  testing::write_file(dir_.path() / "no-interpreter", "exit 0\n");
  std::filesystem::permissions(dir_.path() / "no-interpreter", std::filesystem::perms::owner_all);
  EXPECT_FALSE(run_discarding_output({(dir_.path() / "no-interpreter").string()}, 10s).ok());
  EXPECT_FALSE(run_discarding_output({"/bin/true", std::string("a\0b", 3)}, 10s).ok());
}

TEST_F(SubprocessTest, KillsAChildThatOverrunsTheLimit) {
  const Status status = run("echo $$ > " + file("pid") + "; exec sleep 60", 300ms);
  EXPECT_FALSE(status.ok());
  EXPECT_TRUE(gone("pid"));
}

TEST_F(SubprocessTest, KillsAChildThatClosedItsOutputButRunsOn) {
  const Status status = run("echo $$ > " + file("pid") + "; exec sleep 60 >&- 2>&-", 300ms);
  EXPECT_FALSE(status.ok());
  EXPECT_TRUE(gone("pid"));
}

TEST_F(SubprocessTest, GivesUpOnPipesHeldByAGrandchildAndLeavesItAlone) {
  const Status status = run("sleep 60 & echo $! > " + file("grandchild"), 300ms);
  EXPECT_FALSE(status.ok());
  EXPECT_FALSE(gone("grandchild"));
  kill(std::stoi(testing::read_file(file("grandchild"))), SIGKILL);
}

TEST_F(SubprocessTest, LeaksNoDescriptorToTheChild) {
  const int inherited = fcntl(open("/dev/null", O_RDONLY), F_DUPFD, 40);  // no close-on-exec
  ASSERT_GE(inherited, 40);
  const Status status = run("for fd in 3 4 5 6 7 8 9 " + std::to_string(inherited) +
                            "; do [ -e /proc/self/fd/$fd ] && echo $fd; done > " + file("open"));
  close(inherited);
  ASSERT_TRUE(status.ok()) << status.error().message;
  // The shell itself may hold the script open on a low descriptor of its own.
  EXPECT_EQ(testing::read_file(file("open")).find(std::to_string(inherited)), std::string::npos);
}

}  // namespace
}  // namespace tallyhook
