#include "subprocess.h"

#include <gtest/gtest.h>

#include "test_support.h"

#ifdef _WIN32
#include "win32.h"
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace tallyhook {
namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;
using testing::TempDir;

#ifdef _WIN32
constexpr const char* kProgramSuffix = ".exe";
// Long enough for wine to start the child and let it take its first step.
constexpr std::chrono::milliseconds kShortLimit = 3s;
#else
constexpr const char* kProgramSuffix = "";
constexpr std::chrono::milliseconds kShortLimit = 300ms;
#endif

const std::vector<std::string> kReportArguments = {"skills", "report-usage", "a b"};

class SubprocessTest : public ::testing::Test {
 protected:
  // Runs a child that behaves as `script` says, from a directory whose name holds a space.
  Status run(const testing::ToolScript& script, std::chrono::milliseconds limit = 10s,
             const std::vector<std::string>& args = kReportArguments) {
    const std::filesystem::path child = dir_.path() / "tool dir" / ("child"s + kProgramSuffix);
    std::filesystem::create_directories(child.parent_path());
    testing::install_tool(child, script);
    std::vector<std::string> argv = {child.string()};
    argv.insert(argv.end(), args.begin(), args.end());
    return run_discarding_output(argv, limit);
  }
  std::string file(const char* name) const { return (dir_.path() / name).string(); }

  // True once the process whose id was written to `name` no longer runs.
  bool gone(const char* name) const {
    return !testing::process_running(std::stoi(testing::read_file(file(name))));
  }

  TempDir dir_;
};

// Each argument arrives whole and unchanged, whatever it holds. On Windows, where a program
// gets one command line, this is the quoting, undone by the child's own C runtime.
TEST_F(SubprocessTest, PassesArgumentsAsTheyAreAndIgnoresTheExitStatus) {
  const std::vector<std::string> args = {"skills",
                                         "report-usage",
                                         "a b",
                                         R"(say "hi")",
                                         R"(back\"slash)",
                                         R"(two\\"quotes)",
                                         R"(trailing\)",
                                         R"(a b\)",
                                         R"(a b\\)",
                                         "",
                                         "tab\there",
                                         "caf\xC3\xA9",
                                         R"(\\host\share\)",
                                         R"(")",
                                         "-x"};
  const Status status = run({"printf '%s\\000' \"$@\" > " + file("args") + "; exit 3",
                             {{"argv", file("args")}, {"exit", "3"}}},
                            10s, args);
  ASSERT_TRUE(status.ok()) << status.error().message;
  std::string expected;
  for (const std::string& arg : args) expected += arg + '\0';
  EXPECT_EQ(testing::read_file(file("args")), expected);
}

TEST_F(SubprocessTest, DrainsBothPipesTogether) {
  // Far more than a pipe holds, on both streams at once.
  const Status status =
      run({"head -c 8000000 /dev/zero & head -c 8000000 /dev/zero >&2; wait; echo done > " +
               file("done"),
           {{"flood", "8000000"}, {"append", file("done"), "done"}}});
  ASSERT_TRUE(status.ok()) << status.error().message;
  EXPECT_EQ(testing::read_file(file("done")), "done\n");
}

TEST_F(SubprocessTest, FailsWhenTheProgramCannotStart) {
#if defined(TALLYHOOK_TESTS_UNDER_QEMU_USER)
  GTEST_SKIP() << "qemu-user starts the child of posix_spawn as a fork, not a vfork, so a "
                  "program that cannot start shows as a child exiting 127, not as an error";
#endif
  const std::filesystem::path missing = dir_.path() / "missing";
  EXPECT_FALSE(run_discarding_output({missing.string()}, 10s).ok());
  EXPECT_FALSE(run_discarding_output({dir_.path().string()}, 10s).ok());
  const std::filesystem::path not_a_program = dir_.path() / ("no-interpreter"s + kProgramSuffix);
  testing::write_file(not_a_program, "exit 0\n");
  std::filesystem::permissions(not_a_program, std::filesystem::perms::owner_all);
  EXPECT_FALSE(run_discarding_output({not_a_program.string()}, 10s).ok());

  const std::filesystem::path program = dir_.path() / ("program"s + kProgramSuffix);
  testing::install_tool(program, {"exit 0", {}});
  ASSERT_TRUE(run_discarding_output({program.string()}, 10s).ok());
  EXPECT_FALSE(run_discarding_output({program.string(), std::string("a\0b", 3)}, 10s).ok());
  // No file name holds a quote, and none can be passed to a Windows program.
  EXPECT_FALSE(run_discarding_output({program.string() + "\"", "x"}, 10s).ok());
}

TEST_F(SubprocessTest, KillsAChildThatOverrunsTheLimit) {
  const Status status = run(
      {"echo $$ > " + file("pid") + "; exec sleep 60", {{"pid", file("pid")}, {"sleep", "60000"}}},
      kShortLimit);
  EXPECT_FALSE(status.ok());
  EXPECT_TRUE(gone("pid"));
}

TEST_F(SubprocessTest, KillsAChildThatClosedItsOutputButRunsOn) {
  const Status status = run({"echo $$ > " + file("pid") + "; exec sleep 60 >&- 2>&-",
                             {{"pid", file("pid")}, {"close-output"}, {"sleep", "60000"}}},
                            kShortLimit);
  EXPECT_FALSE(status.ok());
  EXPECT_TRUE(gone("pid"));
}

TEST_F(SubprocessTest, GivesUpOnPipesHeldByAGrandchildAndLeavesItAlone) {
  const Status status = run(
      {"sleep 60 & echo $! > " + file("grandchild"), {{"hold", file("grandchild")}}}, kShortLimit);
  EXPECT_FALSE(status.ok());
  EXPECT_FALSE(gone("grandchild"));
  testing::kill_process(std::stoi(testing::read_file(file("grandchild"))));
}

#ifdef _WIN32
// An inheritable handle of this process is an event; the child sets it if it got it.
TEST_F(SubprocessTest, LeaksNoHandleToTheChild) {
  SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
  const UniqueHandle event(CreateEventW(&inheritable, TRUE, FALSE, nullptr));
  ASSERT_TRUE(event);
  const std::string value = std::to_string(reinterpret_cast<std::uintptr_t>(event.get()));
  const std::filesystem::path child = dir_.path() / "signal.exe";
  testing::install_tool(child, {"", {{"signal", value}}});

  // The check itself works: a child that inherits everything does set it.
  std::wstring command = L"\"" + child.wstring() + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started{};
  ASSERT_TRUE(CreateProcessW(child.c_str(), command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                             nullptr, &startup, &started));
  WaitForSingleObject(started.hProcess, INFINITE);
  CloseHandle(started.hProcess);
  CloseHandle(started.hThread);
  ASSERT_EQ(WaitForSingleObject(event.get(), 0), WAIT_OBJECT_0);

  ResetEvent(event.get());
  const Status status = run_discarding_output({child.string()}, 10s);
  ASSERT_TRUE(status.ok()) << status.error().message;
  EXPECT_EQ(WaitForSingleObject(event.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
}
#else
TEST_F(SubprocessTest, LeaksNoDescriptorToTheChild) {
  const int inherited = fcntl(open("/dev/null", O_RDONLY), F_DUPFD, 40);  // no close-on-exec
  ASSERT_GE(inherited, 40);
  const Status status = run({"for fd in 3 4 5 6 7 8 9 " + std::to_string(inherited) +
                                 "; do [ -e /dev/fd/$fd ] && echo $fd; done > " + file("open"),
                             {}});
  close(inherited);
  ASSERT_TRUE(status.ok()) << status.error().message;
  // The shell itself may hold the script open on a low descriptor of its own.
  EXPECT_EQ(testing::read_file(file("open")).find(std::to_string(inherited)), std::string::npos);
}
#endif

}  // namespace
}  // namespace tallyhook
