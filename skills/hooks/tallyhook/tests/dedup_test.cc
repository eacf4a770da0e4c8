#include "dedup.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "marker_name.h"
#include "test_support.h"

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

TEST(MarkerName, KeepsPlainNamesAndEscapesSeparators) {
  const std::pair<std::string, std::string> cases[] = {
      {"zin-auth", ".dedup_zin-auth"},
      {"My Skill 100%", ".dedup_My Skill 100%"},
      {"..", ".dedup_.."},
      {"a/b", ".dedup_a%2Fb"},
      {"../../etc/passwd", ".dedup_..%2F..%2Fetc%2Fpasswd"},
      {"a\\b%", ".dedup_a%5Cb%25"},
  };
  for (const auto& [skill, marker] : cases) {
    SCOPED_TRACE(skill);
    EXPECT_EQ(marker_file_name(skill), marker);
  }
}

class MarkerTest : public ::testing::Test {
 protected:
  std::filesystem::path hooks() const { return home_.path() / ".zindle" / "hooks"; }
  std::filesystem::path marker(const std::string& skill) const {
    return hooks() / marker_file_name(skill);
  }
  bool is_duplicate(const std::string& skill, WallTime now) const {
    return is_duplicate_at(home_.path().string(), skill, now);
  }

  TempDir home_;
  const WallTime t0_ = 1'700'000'000s;
};

TEST_F(MarkerTest, FirstEventCreatesDirectoriesAndAnEmptyMarker) {
  EXPECT_FALSE(is_duplicate("zin-auth", t0_));
  EXPECT_TRUE(std::filesystem::is_directory(hooks()));
  EXPECT_EQ(std::filesystem::file_size(marker("zin-auth")), 0u);
  EXPECT_EQ(testing::modification_time(marker("zin-auth")), t0_);
}

TEST_F(MarkerTest, WindowCountsFromTheLastReportedEvent) {
  // One event every 10 s: those at 0, 30 and 60 s are reported.
  for (int second = 0; second <= 60; second += 10) {
    SCOPED_TRACE(second);
    const WallTime now = t0_ + std::chrono::seconds(second);
    EXPECT_EQ(is_duplicate("zin-auth", now), second % 30 != 0);
    EXPECT_EQ(testing::modification_time(marker("zin-auth")), t0_ + (second / 30) * 30s);
  }
}

TEST_F(MarkerTest, ExactlyThirtySecondsIsNoRepeat) {
  ASSERT_FALSE(is_duplicate("zin-auth", t0_));
  EXPECT_TRUE(is_duplicate("zin-auth", t0_ + 29'900ms));
  EXPECT_FALSE(is_duplicate("zin-auth", t0_ + 30s));
  EXPECT_EQ(testing::modification_time(marker("zin-auth")), t0_ + 30s);
}

TEST_F(MarkerTest, MarkerInTheFutureSuppressesUntilTheClockCatchesUp) {
  ASSERT_FALSE(is_duplicate("zin-auth", t0_));
  testing::set_modification_time(marker("zin-auth"), t0_ + 3600s);
  EXPECT_TRUE(is_duplicate("zin-auth", t0_ + 10s));
  EXPECT_TRUE(is_duplicate("zin-auth", t0_ + 3629s));
  EXPECT_FALSE(is_duplicate("zin-auth", t0_ + 3630s));
}

TEST_F(MarkerTest, SkillsHaveSeparateMarkers) {
  EXPECT_FALSE(is_duplicate("zin-auth", t0_));
  EXPECT_FALSE(is_duplicate("zin-skills", t0_ + 1s));
  EXPECT_TRUE(is_duplicate("zin-auth", t0_ + 2s));
  EXPECT_TRUE(std::filesystem::exists(marker("zin-skills")));
}

TEST_F(MarkerTest, RenewingKeepsTheMarkersContent) {
  std::filesystem::create_directories(hooks());
  testing::write_file(marker("zin-auth"), "kept");
  testing::set_modification_time(marker("zin-auth"), t0_ - 60s);
  EXPECT_FALSE(is_duplicate("zin-auth", t0_));
  EXPECT_EQ(testing::read_file(marker("zin-auth")), "kept");
  EXPECT_EQ(testing::modification_time(marker("zin-auth")), t0_);
}

TEST_F(MarkerTest, NameWithSeparatorsStaysInsideTheHooksDirectory) {
  EXPECT_FALSE(is_duplicate("../../escape", t0_));
  EXPECT_TRUE(std::filesystem::exists(hooks() / ".dedup_..%2F..%2Fescape"));
  EXPECT_FALSE(std::filesystem::exists(home_.path() / "escape"));
  EXPECT_TRUE(is_duplicate("../../escape", t0_ + 1s));
}

TEST_F(MarkerTest, NameWithNulTouchesNothing) {
  EXPECT_FALSE(is_duplicate("zin\0auth"s, t0_));
  EXPECT_FALSE(is_duplicate("zin\0auth"s, t0_));
  EXPECT_FALSE(std::filesystem::exists(home_.path() / ".zindle"));
}

// Any trouble with the marker means the use is reported, and nothing is made elsewhere.
TEST_F(MarkerTest, FailsOpen) {
  std::filesystem::create_directories(home_.path() / ".zindle");
  testing::write_file(hooks(), "a plain file where the directory belongs");
  EXPECT_FALSE(is_duplicate("zin-auth", t0_));
  EXPECT_FALSE(is_duplicate("zin-auth", t0_));

  std::filesystem::remove(hooks());
  std::filesystem::create_directories(hooks());
  const std::filesystem::path elsewhere = home_.path() / "elsewhere";
  std::filesystem::create_symlink(elsewhere, marker("zin-auth"));
  EXPECT_FALSE(is_duplicate("zin-auth", t0_));
  EXPECT_FALSE(is_duplicate("zin-auth", t0_));
  EXPECT_FALSE(std::filesystem::exists(elsewhere));

  EXPECT_FALSE(is_duplicate(std::string(300, 'x'), t0_));
  EXPECT_FALSE(is_duplicate(std::string(300, 'x'), t0_));
}

TEST_F(MarkerTest, LinkedMarkerNeverChangesItsTarget) {
  std::filesystem::create_directories(hooks());
  const std::filesystem::path target = home_.path() / "target";
  testing::write_file(target, "");
  testing::set_modification_time(target, t0_ - 60s);
  std::filesystem::create_symlink(target, marker("zin-auth"));
  EXPECT_FALSE(is_duplicate("zin-auth", t0_));
  EXPECT_EQ(testing::modification_time(target), t0_ - 60s);
}

TEST_F(MarkerTest, MarkerThatIsAFifoDoesNotBlock) {
  std::filesystem::create_directories(hooks());
  ASSERT_EQ(mkfifo(marker("zin-auth").c_str(), 0644), 0);
  testing::set_modification_time(marker("zin-auth"), t0_ - 60s);
  EXPECT_FALSE(is_duplicate("zin-auth", t0_));
  EXPECT_TRUE(is_duplicate("zin-auth", t0_ + 1s));
}

TEST(IsDuplicate, FailsWithoutAHomeDirectoryOnlyWhenTheSystemHasNone) {
  // With HOME set the home directory is always known.
  TempDir home;
  const char* saved = std::getenv("HOME");
  const std::string previous = saved != nullptr ? saved : "";
  setenv("HOME", home.path().c_str(), 1);
  const Result<bool> first = _is_duplicate("zin-auth");
  const Result<bool> second = _is_duplicate("zin-auth");
  if (saved != nullptr) setenv("HOME", previous.c_str(), 1);
  ASSERT_TRUE(first.ok() && second.ok());
  EXPECT_FALSE(first.value());
  EXPECT_TRUE(second.value());
}

}  // namespace
}  // namespace tallyhook
