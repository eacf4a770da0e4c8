#include "passwd_file.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace tallyhook {
namespace {

// tests/data/passwd holds well-formed entries and every kind of line that must be skipped.
TEST(PasswdFile, FindsTheFirstWellFormedEntryOfTheUid) {
  const std::string passwd = testing::read_file(TEST_DATA_DIR "/passwd");
  const std::pair<std::uint64_t, std::optional<std::string>> cases[] = {
      {0, "/root"},
      {65534, "/nonexistent"},
      {1000, "/home/ann"},  // not the later entry with the same uid
      {1006, "/home/zo\xC3\xAB"},
      {4294967294, "/home/big"},
      {1007, "/home/crlf"},
      {1008, "/home/last"},
      {1009, "/home/no-newline"},
      // Comments, NIS entries, too few or too many fields, uids that are no plain number.
      {7, std::nullopt},
      {8, std::nullopt},
      {9, std::nullopt},
      {1001, std::nullopt},
      {1002, std::nullopt},
      {1003, std::nullopt},
      {1004, std::nullopt},
      {1005, std::nullopt},  // an empty home names no directory
      {4242, std::nullopt},
  };
  for (const auto& [uid, home] : cases) {
    SCOPED_TRACE(uid);
    EXPECT_EQ(home_in_passwd(passwd, uid), home);
  }
}

TEST(PasswdFile, DegenerateFilesHaveNoEntry) {
  for (const std::string_view passwd : {"", "\n\n", ":::::::", "root:x:0",
                                        "x:x:0:0::/r:/s:", "x:x:99999999999999999999:0::/r:/s"}) {
    SCOPED_TRACE(passwd);
    EXPECT_EQ(home_in_passwd(passwd, 0), std::nullopt);
  }
}

}  // namespace
}  // namespace tallyhook
