#include "dedup.h"

#include <gtest/gtest.h>

#include <set>
#include <tuple>

#include "home_dir.h"
#include "marker_name.h"
#include "test_support.h"

#ifdef _WIN32
#include "win32.h"
#else
#include <sys/stat.h>
#endif

namespace tallyhook {
namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;
using testing::TempDir;

TEST(DedupWindow, IsHalfOpenAndCoversTheFuture) {
  const WallTime t0 = 1'700'000'000s;
  const std::pair<WallTime, bool> cases[] = {
      {t0, true},        {t0 + 1s, true},     {t0 + 29'900ms, true}, {t0 + 29'999'999'999ns, true},
      {t0 + 30s, false}, {t0 + 3600s, false}, {t0 - 1s, true},       {t0 - 3600s, true},
  };
  for (const auto& [now, repeat] : cases) {
    SCOPED_TRACE((now - t0).count());
    EXPECT_EQ(within_window(now, t0), repeat);
  }
}

// Markers dated where a difference of two times overflows: the far future suppresses, the
// far past does not.
TEST(DedupWindow, HoldsAtTheEndsOfTheRange) {
  constexpr WallTime kMin = WallTime::min();
  constexpr WallTime kMax = WallTime::max();
  const WallTime t0 = 1'700'000'000s;
  const std::tuple<WallTime, WallTime, bool> cases[] = {
      {t0, kMax, true},   {t0, kMin, false},       {kMax, kMin, false}, {kMin, kMax, true},
      {kMin, kMin, true}, {kMin + 1s, kMin, true}, {kMax, kMax, true},  {kMax, kMax - 30s, false}};
  for (const auto& [now, last_report, repeat] : cases) {
    SCOPED_TRACE(::testing::PrintToString(now.count()) + " " +
                 ::testing::PrintToString(last_report.count()));
    EXPECT_EQ(within_window(now, last_report), repeat);
  }
  EXPECT_EQ(saturating_wall_time(13'569'465'600, 0), kMax);   // 2400-01-01
  EXPECT_EQ(saturating_wall_time(-11'676'096'000, 0), kMin);  // 1600-01-01
  EXPECT_EQ(saturating_wall_time(1'700'000'000, 5), t0 + 5ns);
}

// Different names in a table must have different markers: a shared one loses a report.
template <std::size_t N>
void expect_distinct_markers(const std::pair<std::string, std::string> (&cases)[N]) {
  std::set<std::string> markers;
  for (const auto& [skill, marker] : cases) {
    EXPECT_TRUE(markers.insert(marker).second) << skill << " shares " << marker;
  }
}

TEST(MarkerName, KeepsPlainNamesAndEscapesSeparators) {
  const std::pair<std::string, std::string> cases[] = {
      {"zin-auth", ".dedup_zin-auth"},
      {"My Skill 100%", ".dedup_My Skill 100%25"},
      {"..", ".dedup_.."},
      {"a/b", ".dedup_a%2Fb"},
      // The literal name of another skill's marker gets one of its own.
      {"a%2Fb", ".dedup_a%252Fb"},
      {"../../etc/passwd", ".dedup_..%2F..%2Fetc%2Fpasswd"},
      {"a\\b%", ".dedup_a%5Cb%25"},
  };
  for (const auto& [skill, marker] : cases) {
    SCOPED_TRACE(skill);
    EXPECT_EQ(posix_marker_file_name(skill), marker);
  }
  expect_distinct_markers(cases);
}

TEST(MarkerName, OnWindowsAlsoEscapesWhatWindowsForbidsOrDrops) {
  const std::pair<std::string, std::string> cases[] = {
      // The product's skills, and any other name Windows takes as it is, stay as they are.
      {"zin-auth", ".dedup_zin-auth"},
      {"zin-dataset-query", ".dedup_zin-dataset-query"},
      {"zin-feedback", ".dedup_zin-feedback"},
      {"zin-skills", ".dedup_zin-skills"},
      {"market-lens", ".dedup_market-lens"},
      {"caf\xC3\xA9", ".dedup_caf\xC3\xA9"},
      {".hidden", ".dedup_.hidden"},
      // A device name is no device behind the prefix.
      {"CON", ".dedup_CON"},
      {"nul.txt", ".dedup_nul.txt"},
      {"COM1", ".dedup_COM1"},
      // Separators as on POSIX.
      {"a/b", ".dedup_a%2Fb"},
      {"a\\b%", ".dedup_a%5Cb%25"},
      // "%" in every name, so that no name is another's encoded form.
      {"My Skill 100%", ".dedup_My Skill 100%25"},
      {"a%2Fb", ".dedup_a%252Fb"},
      {"C%3Ax", ".dedup_C%253Ax"},
      {"zin-auth%2E", ".dedup_zin-auth%252E"},
      // Forbidden characters.
      {"a<b>c", ".dedup_a%3Cb%3Ec"},
      {"C:x", ".dedup_C%3Ax"},
      {"x::$DATA", ".dedup_x%3A%3A$DATA"},
      {"say \"hi\"", ".dedup_say %22hi%22"},
      {"a|b?c*", ".dedup_a%7Cb%3Fc%2A"},
      {"100%?", ".dedup_100%25%3F"},
      {"tab\there", ".dedup_tab%09here"},
      {"\x7F", ".dedup_\x7F"},
      // A trailing dot or space would be dropped; the one at the end is enough to keep it.
      {"zin-auth.", ".dedup_zin-auth%2E"},
      {"zin-auth ", ".dedup_zin-auth%20"},
      {"a. .", ".dedup_a. %2E"},
      {"..", ".dedup_.%2E"},
      {"100% ", ".dedup_100%25%20"},
  };
  for (const auto& [skill, marker] : cases) {
    SCOPED_TRACE(skill);
    EXPECT_EQ(windows_marker_file_name(skill), marker);
  }
  expect_distinct_markers(cases);
}

class MarkerTest : public ::testing::Test {
 protected:
  std::filesystem::path hooks() const { return home_.path() / ".zindle" / "hooks"; }
  std::filesystem::path marker(const std::string& skill) const {
    const std::string name = marker_file_name(skill);
    return hooks() / std::u8string(reinterpret_cast<const char8_t*>(name.data()), name.size());
  }
  bool is_duplicate(const std::string& skill, WallTime now) const {
    return is_duplicate_at(home_.path().string(), skill, now);
  }

  // A marker that was (re)dated by the run is dated by the clock: at some time between the
  // start of the run and now, give or take the file system clock's coarser step.
  void expect_dated_since(const std::string& skill, WallTime run_start) const {
    const WallTime dated = testing::modification_time(marker(skill));
    EXPECT_GE(dated, run_start - 1s);
    EXPECT_LE(dated, wall_clock_now() + 1s);
  }

  TempDir home_;
  // Near the clock, since markers are dated by it; whole microseconds, which every file
  // system keeps.
  const WallTime now_ = std::chrono::floor<std::chrono::microseconds>(wall_clock_now());
};

TEST_F(MarkerTest, FirstEventCreatesDirectoriesAndAnEmptyMarker) {
  EXPECT_FALSE(is_duplicate("zin-auth", now_));
  EXPECT_TRUE(std::filesystem::is_directory(hooks()));
  EXPECT_EQ(std::filesystem::file_size(marker("zin-auth")), 0u);
  expect_dated_since("zin-auth", now_);
}

// The marker's age decides; a marker that is not a repeat's is dated anew, a repeat's stays.
TEST_F(MarkerTest, WindowCountsFromTheMarkersTime) {
  const std::pair<WallTime, bool> cases[] = {
      {0s, true},   {10s, true},  {29'900ms, true}, {30s - 100ns, true},  // Windows' finest
      {30s, false}, {60s, false}, {3600s, false},   {-3600s, true},       // in the future
  };
  ASSERT_FALSE(is_duplicate("zin-auth", now_));
  for (const auto& [age, repeat] : cases) {
    SCOPED_TRACE((age / 1ms));
    testing::set_modification_time(marker("zin-auth"), now_ - age);
    EXPECT_EQ(is_duplicate("zin-auth", now_), repeat);
    if (repeat) {
      EXPECT_EQ(testing::modification_time(marker("zin-auth")), now_ - age);
    } else {
      expect_dated_since("zin-auth", now_);
    }
  }
}

TEST_F(MarkerTest, MarkerInTheFutureSuppressesUntilTheClockCatchesUp) {
  ASSERT_FALSE(is_duplicate("zin-auth", now_));
  testing::set_modification_time(marker("zin-auth"), now_ + 3600s);
  EXPECT_TRUE(is_duplicate("zin-auth", now_ + 10s));
  EXPECT_TRUE(is_duplicate("zin-auth", now_ + 3629s));
  EXPECT_FALSE(is_duplicate("zin-auth", now_ + 3630s));
}

// Dates no nanosecond count can hold: they compare as far off, and nothing overflows.
TEST_F(MarkerTest, FarOffMarkerDates) {
  const std::tuple<const char*, std::int64_t, bool> cases[] = {
      {"2400", 13'569'465'600, true},
      {"1601", -11'644'387'200, false},
#ifndef _WIN32  // before the first date Windows files can have
      {"1600", -11'676'096'000, false},
#endif
  };
  ASSERT_FALSE(is_duplicate("zin-auth", now_));
  for (const auto& [year, seconds, repeat] : cases) {
    SCOPED_TRACE(year);
    testing::set_modification_time(marker("zin-auth"), seconds);
    EXPECT_EQ(is_duplicate("zin-auth", now_), repeat);
  }
}

TEST_F(MarkerTest, SkillsHaveSeparateMarkers) {
  EXPECT_FALSE(is_duplicate("zin-auth", now_));
  EXPECT_FALSE(is_duplicate("zin-skills", now_ + 1s));
  EXPECT_TRUE(is_duplicate("zin-auth", now_ + 2s));
  EXPECT_TRUE(std::filesystem::exists(marker("zin-skills")));
}

// Names that Windows would refuse, read as a device, or shorten, and names written as another
// name's marker would be: each still gets a marker of its own inside the hooks directory, and
// nothing is made anywhere else.
TEST_F(MarkerTest, AwkwardNamesGetMarkersOfTheirOwn) {
  const std::string names[] = {"CON",       "nul",        "COM1",    "LPT1.txt",   "a:b",
                               "a:b:c",     "x::$DATA",   "a<b>",    "say \"hi\"", "a|b",
                               "ask?",      "star*",      "ctl\x01", "trailing",   "trailing.",
                               "trailing ", "trailing..", "..",      ".",          "caf\xC3\xA9",
                               "x/y",       "x%2Fy",      "a%3Ab",   "trailing%2E"};
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(is_duplicate(name, now_));
    EXPECT_TRUE(is_duplicate(name, now_ + 1s));
  }
  std::size_t markers = 0;
  for (const auto& entry : std::filesystem::directory_iterator(hooks())) {
    EXPECT_TRUE(entry.is_regular_file()) << entry.path();
    ++markers;
  }
  EXPECT_EQ(markers, std::size(names));
  std::size_t in_home = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(home_.path())) {
    if (entry.path().parent_path() != hooks()) ++in_home;
  }
  EXPECT_EQ(in_home, 2u) << "only .zindle and .zindle/hooks";
}

// A run that finds the marker stale while another run holds its lock leaves the report to
// that run, which renews the marker; once the lock is free, a stale marker is renewed.
TEST_F(MarkerTest, StaleMarkerLockedByAnotherRunIsARepeat) {
  ASSERT_FALSE(is_duplicate("zin-auth", now_));
  testing::set_modification_time(marker("zin-auth"), now_ - 60s);
  {
    const testing::MarkerLock other_run(marker("zin-auth"));
    EXPECT_TRUE(is_duplicate("zin-auth", now_));
    EXPECT_EQ(testing::modification_time(marker("zin-auth")), now_ - 60s);
  }
  EXPECT_FALSE(is_duplicate("zin-auth", now_));
  expect_dated_since("zin-auth", now_);
}

#ifdef _WIN32
// Another program (a virus scanner, say) has the marker open and shares it with nobody.
TEST_F(MarkerTest, MarkerOpenElsewhereWithoutSharingFailsOpen) {
  ASSERT_FALSE(is_duplicate("zin-auth", now_));
  const UniqueHandle exclusive(
      CreateFileW(marker("zin-auth").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(exclusive);
  EXPECT_TRUE(is_duplicate("zin-auth", now_ + 1s));
  EXPECT_FALSE(is_duplicate("zin-auth", now_ + 60s));
  EXPECT_FALSE(is_duplicate("zin-auth", now_ + 61s));
}
#endif

TEST_F(MarkerTest, RenewingKeepsTheMarkersContent) {
  std::filesystem::create_directories(hooks());
  testing::write_file(marker("zin-auth"), "kept");
  testing::set_modification_time(marker("zin-auth"), now_ - 60s);
  EXPECT_FALSE(is_duplicate("zin-auth", now_));
  EXPECT_EQ(testing::read_file(marker("zin-auth")), "kept");
  expect_dated_since("zin-auth", now_);
}

TEST_F(MarkerTest, NameWithSeparatorsStaysInsideTheHooksDirectory) {
  EXPECT_FALSE(is_duplicate("../../escape", now_));
  EXPECT_TRUE(std::filesystem::exists(hooks() / ".dedup_..%2F..%2Fescape"));
  EXPECT_FALSE(std::filesystem::exists(home_.path() / "escape"));
  EXPECT_TRUE(is_duplicate("../../escape", now_ + 1s));
}

// A NUL or a lone surrogate (as the event reader keeps it) can be in no file name.
TEST_F(MarkerTest, NameThatCanNameNoFileTouchesNothing) {
  for (const std::string& name : {"zin\0auth"s, "zin-auth\xED\xA0\xBD"s, "\xED\xB8\x80"s}) {
    SCOPED_TRACE(::testing::PrintToString(name));
    EXPECT_FALSE(can_name_a_file(name));
    EXPECT_FALSE(is_duplicate(name, now_));
    EXPECT_FALSE(is_duplicate(name, now_));
  }
  EXPECT_FALSE(std::filesystem::exists(home_.path() / ".zindle"));
  EXPECT_TRUE(can_name_a_file("caf\xC3\xA9 \xF0\x9F\x98\x80"));
}

// Any trouble with the marker means the use is reported, and nothing is made elsewhere.
TEST_F(MarkerTest, FailsOpen) {
  std::filesystem::create_directories(home_.path() / ".zindle");
  testing::write_file(hooks(), "a plain file where the directory belongs");
  EXPECT_FALSE(is_duplicate("zin-auth", now_));
  EXPECT_FALSE(is_duplicate("zin-auth", now_));

  std::filesystem::remove(hooks());
  std::filesystem::create_directories(hooks());
  const std::filesystem::path elsewhere = home_.path() / "elsewhere";
  if (testing::create_symlink(elsewhere, marker("zin-auth"))) {
    EXPECT_FALSE(is_duplicate("zin-auth", now_));
    EXPECT_FALSE(is_duplicate("zin-auth", now_));
    EXPECT_FALSE(std::filesystem::exists(elsewhere));
  }

  EXPECT_FALSE(is_duplicate(std::string(300, 'x'), now_));
  EXPECT_FALSE(is_duplicate(std::string(300, 'x'), now_));
}

TEST_F(MarkerTest, LinkedMarkerNeverChangesItsTarget) {
  std::filesystem::create_directories(hooks());
  const std::filesystem::path target = home_.path() / "target";
  testing::write_file(target, "");
  testing::set_modification_time(target, now_ - 60s);
  if (!testing::create_symlink(target, marker("zin-auth"))) {
    GTEST_SKIP() << "this system makes no symbolic links";
  }
  EXPECT_FALSE(is_duplicate("zin-auth", now_));
  EXPECT_EQ(testing::modification_time(target), now_ - 60s);
}

#ifndef _WIN32
TEST_F(MarkerTest, MarkerThatIsAFifoDoesNotBlock) {
  std::filesystem::create_directories(hooks());
  ASSERT_EQ(mkfifo(marker("zin-auth").c_str(), 0644), 0);
  testing::set_modification_time(marker("zin-auth"), now_ - 60s);
  EXPECT_FALSE(is_duplicate("zin-auth", now_));
  EXPECT_TRUE(is_duplicate("zin-auth", now_ + 1s));
}
#endif

TEST(IsDuplicate, FailsWithoutAHomeDirectoryOnlyWhenTheSystemHasNone) {
  // With HOME set the home directory is always known.
  TempDir home;
  const testing::ScopedEnvironment environment({{"HOME", home.path().string()}});
  const Result<bool> first = _is_duplicate("zin-auth");
  const Result<bool> second = _is_duplicate("zin-auth");
  ASSERT_TRUE(first.ok() && second.ok());
  EXPECT_FALSE(first.value());
  EXPECT_TRUE(second.value());
}

// HOME first; without a usable one, what the system knows of the user.
TEST(HomeDirectory, ComesFromHomeThenFromTheSystem) {
  struct Case {
    const char* label;
    std::map<std::string, std::optional<std::string>> environment;
    std::optional<std::string> expected;  // nothing: any directory the system names
  };
  const Case cases[] = {
      {"HOME", {{"HOME", "/home/ann"}}, "/home/ann"},
      {"non-ASCII HOME", {{"HOME", "/home/zo\xC3\xAB"}}, "/home/zo\xC3\xAB"},
      {"empty HOME", {{"HOME", ""}}, std::nullopt},
      {"no HOME", {{"HOME", std::nullopt}}, std::nullopt},
#ifdef _WIN32
      {"profile", {{"HOME", std::nullopt}, {"USERPROFILE", "C:\\Users\\ann"}}, "C:\\Users\\ann"},
      {"profile, empty HOME", {{"HOME", ""}, {"USERPROFILE", "C:\\Users\\ann"}}, "C:\\Users\\ann"},
      {"HOME before profile",
       {{"HOME", "C:/home/ann"}, {"USERPROFILE", "C:\\Users\\ann"}},
       "C:/home/ann"},
      {"known folder", {{"HOME", std::nullopt}, {"USERPROFILE", std::nullopt}}, std::nullopt},
#endif
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const testing::ScopedEnvironment environment(c.environment);
    const std::optional<std::string> home = home_directory();
    ASSERT_TRUE(home.has_value());
    if (c.expected) {
      EXPECT_EQ(*home, *c.expected);
    } else {
      EXPECT_FALSE(home->empty());
    }
  }
}

}  // namespace
}  // namespace tallyhook
