// Faults the hook must come through with a defined outcome: a broken file system under HOME,
// tools that misbehave, standard streams the host left closed, many runs at once, and events
// of absurd size. Each test asserts the exit status, an empty standard output (the fixture
// checks it on every run) and what is, and is not, on disk afterwards.
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <thread>

#include "end_to_end_fixture.h"
#include "passwd_file.h"

namespace tallyhook {
namespace {

using namespace std::chrono_literals;
using testing::EndToEnd;
using testing::kMcpEvent;
using testing::ProcessResult;
using testing::read_file;
using testing::read_lines;
using testing::skill_event;

namespace fs = std::filesystem;

constexpr uid_t kNobody = 65534;
constexpr const char* kSetpriv = "/usr/bin/setpriv";
constexpr const char* kNoOrdinaryUser = "root, with no setpriv to run the hook as another user";

class FaultInjection : public EndToEnd {
 protected:
  FaultInjection() {
    // A tool that only notes the name it was given, somewhere the hook's own trouble with
    // HOME cannot reach.
    fs::permissions(root_.path(), fs::perms::all);
    testing::write_file(reports_file(), "");
    fs::permissions(reports_file(), fs::perms::all);
    testing::install_tool(zindle(), {"printf '%s\\n' \"$3\" >> " + reports_file().string(), {}});
  }

  fs::path reports_file() const { return root_.path() / "reports"; }
  bool no_markers() const { return !fs::exists(hooks()) || fs::is_empty(hooks()); }
  std::vector<std::string> reports() const { return read_lines(reports_file()); }

  // Runs of the hook as an ordinary user, for whom permissions count (they do not for root).
  // HOME then belongs to that user. False for root where setpriv is missing (macOS, whose
  // suites run as an ordinary user).
  [[nodiscard]] bool as_user(testing::ProcessOptions* user) const {
    if (geteuid() != 0) {
      *user = options();
      return true;
    }
    if (!fs::exists(kSetpriv)) return false;
    for (const fs::path& dir : {bin(), home()}) fs::permissions(dir, fs::perms::all);
    if (chown(home().c_str(), kNobody, kNobody) != 0) ADD_FAILURE() << "chown " << home();
    *user = options(
        {kSetpriv, "--reuid=65534", "--regid=65534", "--clear-groups", hook_program().string()});
    return true;
  }

  // `path` given to the ordinary user of as_user().
  void give_to_user(const fs::path& path) const {
    if (geteuid() == 0 && lchown(path.c_str(), kNobody, kNobody) != 0) {
      ADD_FAILURE() << "chown " << path;
    }
  }

  // A stale marker for kMcpEvent's skill with `permissions`, in the user's own hooks
  // directory but made by the test's account (root's, when the tests run as root). Returns
  // its time.
  WallTime stale_marker_of_another_account(fs::perms permissions) const {
    fs::create_directories(hooks());
    give_to_user(home() / ".zindle");
    give_to_user(hooks());
    testing::write_file(marker("zin-dataset-query"), "");
    fs::permissions(marker("zin-dataset-query"), permissions);
    const WallTime stale = wall_clock_now() - 60s;
    testing::set_modification_time(marker("zin-dataset-query"), stale);
    return stale;
  }

  ProcessResult expect_quiet_success(const std::string& event,
                                     const testing::ProcessOptions& o) const {
    ProcessResult result = hook(event, o);
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(result.err, "");
    return result;
  }
  ProcessResult expect_quiet_success(const std::string& event) const {
    return expect_quiet_success(event, options());
  }
};

// --- The file system under HOME -------------------------------------------------------

TEST_F(FaultInjection, ReadOnlyHomeStillReports) {
  testing::ProcessOptions user;
  if (!as_user(&user)) GTEST_SKIP() << kNoOrdinaryUser;
  fs::permissions(home(), fs::perms::owner_read | fs::perms::owner_exec);
  expect_quiet_success(kMcpEvent, user);
  expect_quiet_success(kMcpEvent, user);
  EXPECT_EQ(reports().size(), 2u);
  EXPECT_FALSE(fs::exists(home() / ".zindle"));
}

TEST_F(FaultInjection, PlainFileInPlaceOfADirectoryStillReports) {
  for (const fs::path& in_the_way : {home() / ".zindle", hooks()}) {
    SCOPED_TRACE(in_the_way);
    fs::remove_all(home() / ".zindle");
    fs::create_directories(in_the_way.parent_path());
    testing::write_file(in_the_way, "not a directory");
    const std::size_t before = reports().size();
    expect_quiet_success(kMcpEvent);
    EXPECT_EQ(reports().size(), before + 1);
    EXPECT_EQ(read_file(in_the_way), "not a directory");
  }
}

TEST_F(FaultInjection, HooksDirectoryWithoutWritePermissionReportsEveryTime) {
  testing::ProcessOptions user;
  if (!as_user(&user)) GTEST_SKIP() << kNoOrdinaryUser;
  fs::create_directories(hooks());
  give_to_user(home() / ".zindle");
  fs::permissions(hooks(), fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                               fs::perms::group_exec | fs::perms::others_read |
                               fs::perms::others_exec);
  expect_quiet_success(kMcpEvent, user);
  expect_quiet_success(kMcpEvent, user);
  EXPECT_EQ(reports().size(), 2u);
  EXPECT_FALSE(fs::exists(marker("zin-dataset-query")));
}

TEST_F(FaultInjection, MarkerThatCanNeitherBeReadNorTouchedReportsAndStaysAsItWas) {
  testing::ProcessOptions user;
  if (!as_user(&user)) GTEST_SKIP() << kNoOrdinaryUser;
  const WallTime stale = stale_marker_of_another_account(fs::perms::none);
  expect_quiet_success(kMcpEvent, user);
  EXPECT_EQ(reports().size(), 1u);
  if (geteuid() == 0) {  // belongs to root: the user may not change its times
    EXPECT_EQ(testing::modification_time(marker("zin-dataset-query")), stale);
  }
}

// Renewing needs only write permission, as touch does, not the marker's ownership.
TEST_F(FaultInjection, StaleMarkerOfAnotherAccountThatTheUserMayWriteIsRenewed) {
  if (geteuid() != 0) {
    GTEST_SKIP() << "only root can run the hook as another user id: the marker would be the "
                    "user's own, which a renewal with explicit times renews too";
  }
  testing::ProcessOptions user;
  if (!as_user(&user)) GTEST_SKIP() << kNoOrdinaryUser;
  stale_marker_of_another_account(fs::perms::all);
  expect_quiet_success(kMcpEvent, user);
  expect_quiet_success(kMcpEvent, user);
  EXPECT_EQ(reports().size(), 1u);
}

TEST_F(FaultInjection, MarkerThatIsADirectoryServesAsAMarker) {
  fs::create_directories(marker("zin-dataset-query"));
  testing::set_modification_time(marker("zin-dataset-query"), wall_clock_now() - 60s);
  expect_quiet_success(kMcpEvent);
  expect_quiet_success(kMcpEvent);
  EXPECT_EQ(reports().size(), 1u);
  EXPECT_TRUE(fs::is_directory(marker("zin-dataset-query")));
}

TEST_F(FaultInjection, MarkerThatIsALinkChangesNothingElsewhere) {
  fs::create_directories(hooks());
  const fs::path missing = root_.path() / "created-through-the-link";
  fs::create_symlink(missing, marker("zin-dataset-query"));
  expect_quiet_success(kMcpEvent);
  expect_quiet_success(kMcpEvent);
  EXPECT_EQ(reports().size(), 2u);
  EXPECT_FALSE(fs::exists(missing));

  const fs::path elsewhere = root_.path() / "elsewhere";
  testing::write_file(elsewhere, "");
  const WallTime stale = wall_clock_now() - 60s;
  testing::set_modification_time(elsewhere, stale);
  fs::create_symlink(elsewhere, marker("zin-skills"));
  expect_quiet_success(R"({"tool_name":"mcp__zindle__skills_list"})");
  EXPECT_EQ(reports().size(), 3u);
  EXPECT_EQ(testing::modification_time(elsewhere), stale);
  // The link's target is what the time is read from: a fresh one suppresses.
  testing::set_modification_time(elsewhere, wall_clock_now());
  expect_quiet_success(R"({"tool_name":"mcp__zindle__skills_list"})");
  EXPECT_EQ(reports().size(), 3u);
}

TEST_F(FaultInjection, NameTooLongForAFileIsReportedWithoutAMarker) {
  const std::string name(300, 'n');
  expect_quiet_success(skill_event(name));
  expect_quiet_success(skill_event(name));
  EXPECT_EQ(reports(), (std::vector<std::string>{name, name}));
  EXPECT_TRUE(no_markers());
}

// The hooks directory vanishing and coming back while runs test and renew markers in it:
// whatever the interleaving, every run ends quietly and nothing lands outside the directory.
TEST_F(FaultInjection, HooksDirectoryRemovedWhileRunsGoOn) {
  std::atomic<bool> done{false};
  std::thread remover([&] {
    while (!done) {
      std::error_code ignored;
      fs::remove_all(hooks(), ignored);
      fs::create_directories(hooks(), ignored);
      testing::write_file(marker("zin-dataset-query"), "");
      testing::set_modification_time(marker("zin-dataset-query"), wall_clock_now() - 60s);
    }
  });
  for (int run = 0; run < 100; ++run) expect_quiet_success(kMcpEvent);
  done = true;
  remover.join();
  EXPECT_FALSE(reports().empty());
  for (const auto& entry : fs::directory_iterator(home())) {
    EXPECT_EQ(entry.path().filename(), ".zindle");
  }
  for (const auto& entry : fs::directory_iterator(home() / ".zindle")) {
    EXPECT_EQ(entry.path().filename(), "hooks");
  }
}

// A full file system, in a mount namespace of the hook's own so nothing else sees it.
TEST_F(FaultInjection, FullFileSystemStillReports) {
#if !defined(__linux__)
  GTEST_SKIP() << "mount namespaces are Linux's";
#endif
  fs::create_directories(hooks());
  const std::string full_hooks =
      "mount -t tmpfs -o size=16k,nr_inodes=1 none \"$1\" || exit 99; exec \"$0\"";
  testing::ProcessOptions o = options({"/usr/bin/unshare", "-m", "/bin/sh", "-c", full_hooks,
                                       hook_program().string(), hooks().string()});
  if (geteuid() != 0) o.argv.insert(o.argv.begin() + 1, "--map-root-user");
  const ProcessResult result = hook(kMcpEvent, o);
  if (result.exit_status != 0 && reports().empty()) {
    GTEST_SKIP() << "no mount namespace here: " << result.err;
  }
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(reports().size(), 1u);
}

// --- The product's tool -------------------------------------------------------------------

TEST_F(FaultInjection, ToolThatCannotRunIsDroppedQuietly) {
  const std::string runs = (root_.path() / "ran").string();
  const struct {
    const char* label;
    std::function<void()> install;
  } tools[] = {
      {"not executable",
       [&] {
         testing::write_file(zindle(), "#!/bin/sh\necho ran >> " + runs + "\n");
         fs::permissions(zindle(), fs::perms::owner_read | fs::perms::owner_write);
       }},
      {"script without #!",
       [&] {
         testing::write_file(zindle(), "echo ran >> " + runs + "\n");
         fs::permissions(zindle(), fs::perms::owner_all);
       }},
      {"a directory", [&] { fs::create_directory(zindle()); }},
      {"missing", [] {}},
  };
  for (const auto& tool : tools) {
    SCOPED_TRACE(tool.label);
    fs::remove_all(zindle());
    fs::remove_all(home() / ".zindle");
    tool.install();
    expect_quiet_success(kMcpEvent);
    EXPECT_FALSE(fs::exists(runs));
    EXPECT_TRUE(fs::exists(marker("zin-dataset-query")));
  }
}

TEST_F(FaultInjection, ToolKilledByASignalIsDroppedQuietly) {
  testing::install_tool(zindle(), {"kill -SEGV $$", {}});
  expect_quiet_success(kMcpEvent);
}

TEST_F(FaultInjection, ToolIgnoringTerminationIsKilledAtTheDeadline) {
  const std::string pid_file = (root_.path() / "pid").string();
  testing::install_tool(zindle(), {"trap '' TERM; echo $$ > " + pid_file + "; exec sleep 60", {}});
  expect_quiet_success(kMcpEvent);
  EXPECT_FALSE(testing::process_running(std::stoi(read_file(pid_file))));
}

// --- Standard streams ---------------------------------------------------------------------

TEST_F(FaultInjection, ClosedStandardStreams) {
  const auto with = [&](const char* redirection) {
    return options(
        {"/bin/sh", "-c", std::string("exec \"$0\" ") + redirection, hook_program().string()});
  };
  // No input at all: nothing to do.
  expect_quiet_success(kMcpEvent, with("<&-"));
  EXPECT_TRUE(reports().empty());
  // Nowhere to write, and nothing written anyway.
  expect_quiet_success(kMcpEvent, with(">&-"));
  EXPECT_EQ(reports().size(), 1u);
  // A diagnostic with nowhere to go: still status 1, and no crash.
  EXPECT_EQ(hook("[]", with("2>&-")).exit_status, 1);
}

TEST_F(FaultInjection, InheritedDescriptorsDoNotReachTheTool) {
  const std::string leaked = (root_.path() / "leaked").string();
  // Descriptors 3 to 9: the ones a shell lets a script open by number.
  testing::install_tool(zindle(), {"for fd in 3 4 5 6 7 8 9; do "
                                   "[ -e /dev/fd/$fd ] && echo $fd; done > " +
                                       leaked,
                                   {}});
  std::string open_many;
  for (int fd = 3; fd <= 9; ++fd) open_many += "exec " + std::to_string(fd) + "</dev/null; ";
  expect_quiet_success(
      kMcpEvent, options({"/bin/sh", "-c", open_many + "exec \"$0\"", hook_program().string()}));
  EXPECT_EQ(read_file(leaked), "");
}

// --- Accounts ------------------------------------------------------------------------------

#if defined(__APPLE__)
// Without HOME the home directory comes from the directory service (Open Directory, which the C
// library asks): the marker lands in the account's own home.
TEST_F(FaultInjection, WithoutHomeTheDirectoryServiceDecides) {
  const passwd* const account = getpwuid(getuid());
  ASSERT_NE(account, nullptr);
  const std::string skill = "tallyhook-test-" + std::to_string(getpid());
  const fs::path marker = fs::path(account->pw_dir) / ".zindle" / "hooks" / (".dedup_" + skill);
  for (const std::optional<std::string>& home_variable : {std::optional<std::string>(), {""}}) {
    SCOPED_TRACE(home_variable ? "empty HOME" : "no HOME");
    testing::ProcessOptions o = options();
    o.env["HOME"] = home_variable;
    expect_quiet_success(skill_event(skill), o);
    EXPECT_TRUE(fs::exists(marker)) << marker;
    fs::remove(marker);
  }
  EXPECT_EQ(reports(), (std::vector<std::string>{skill, skill}));
}
#else
// Without HOME the home directory comes from /etc/passwd, read by the hook itself: a static
// program must not load the system's name-service modules. An account that only such a
// service knows (LDAP, sssd, systemd-homed) has no home then: a diagnosed failure, no crash.
TEST_F(FaultInjection, WithoutHomeTheAccountsPasswdEntryDecides) {
  if (geteuid() != 0) GTEST_SKIP() << "only root can run the hook as another user id";
  constexpr std::uint64_t kUnknownUid = 4'242'421;
  if (home_in_passwd(read_file("/etc/passwd"), kUnknownUid)) {
    GTEST_SKIP() << "user id " << kUnknownUid << " has an entry here";
  }
  fs::permissions(bin(), fs::perms::all);
  const auto as = [&](std::uint64_t uid, const std::optional<std::string>& home_variable) {
    const std::string id = std::to_string(uid);
    testing::ProcessOptions o = options(
        {kSetpriv, "--reuid=" + id, "--regid=" + id, "--clear-groups", hook_program().string()});
    o.env["HOME"] = home_variable;
    return o;
  };
  for (const std::optional<std::string>& home_variable : {std::optional<std::string>(), {""}}) {
    SCOPED_TRACE(home_variable ? "empty HOME" : "no HOME");
    const ProcessResult unknown = hook(kMcpEvent, as(kUnknownUid, home_variable));
    EXPECT_EQ(unknown.exit_status, 1);
    EXPECT_NE(unknown.err.find("cannot determine the home directory"), std::string::npos)
        << unknown.err;
    EXPECT_TRUE(reports().empty());
  }
  // nobody's entry names /nonexistent, where no marker can be made: reported all the same.
  expect_quiet_success(kMcpEvent, as(kNobody, std::nullopt));
  EXPECT_EQ(reports().size(), 1u);
}
#endif

// --- Size ----------------------------------------------------------------------------------

TEST_F(FaultInjection, HugeEventsEndInADefinedResult) {
  const std::string content(100 << 20, 'x');
  ProcessResult result = expect_quiet_success(R"({"tool_name":"Write","tool_input":{"content":")" +
                                              content + R"("}})");
  EXPECT_TRUE(result.read_all_input);

  // Nested too deep to be taken as JSON.
  const std::size_t depth = 1'000'000;
  expect_quiet_success(std::string(depth, '['));
  expect_quiet_success(std::string(depth, '[') + std::string(depth, ']'));
  EXPECT_TRUE(reports().empty());

  // A ten-megabyte command line that runs the product's tool at its end.
  std::string command;
  while (command.size() < (10 << 20)) command += "echo step && ";
  expect_quiet_success(R"({"tool_name":"Bash","tool_input":{"command":")" + command +
                       R"(zindle auth login"}})");
  EXPECT_EQ(reports(), std::vector<std::string>{"zin-auth"});
}

TEST_F(FaultInjection, MegabyteSkillNameIsNeitherMarkedNorReported) {
  // Too long for a file name, and longer than the system lets one argument be.
  expect_quiet_success(skill_event(std::string(1 << 20, 'n')));
  EXPECT_TRUE(reports().empty());
  EXPECT_TRUE(no_markers());
}

}  // namespace
}  // namespace tallyhook
