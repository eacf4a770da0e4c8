#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <random>
#include <string>

#include "zindle/logging.h"

namespace zindle::logging {
namespace {

std::string read_bytes(const std::filesystem::path& path) {
  std::string bytes;
  if (std::FILE* file = std::fopen(path.string().c_str(), "rb")) {
    for (int c; (c = std::fgetc(file)) != EOF;) bytes.push_back(static_cast<char>(c));
    std::fclose(file);
  }
  return bytes;
}

// A stream opened in text mode (which on Windows turns "\n" into "\r\n") still gets each line
// byte for byte, UTF-8 and a lone "\n" at its end, and the caller's own writes keep the mode.
TEST(StreamBytes, LineIsWrittenAsGivenAndTheStreamKeepsItsMode) {
  const std::filesystem::path path =
      std::filesystem::temp_directory_path() /
      ("zindle-logging-bytes-" + std::to_string(std::random_device()()));
  std::FILE* stream = std::fopen(path.string().c_str(), "w");
  ASSERT_NE(stream, nullptr);
  Logger logger("bytes");
  logger.addHandler(std::make_shared<StreamHandler>(stream));
  std::fputs("before\n", stream);
  logger.warning("caf\xC3\xA9 \x1A\r end");
  std::fputs("after\n", stream);
  std::fclose(stream);

#ifdef _WIN32
  const std::string caller_line_end = "\r\n";
#else
  const std::string caller_line_end = "\n";
#endif
  EXPECT_EQ(read_bytes(path),
            "before" + caller_line_end + "caf\xC3\xA9 \x1A\r end\n" + "after" + caller_line_end);
  std::filesystem::remove(path);
}

}  // namespace
}  // namespace zindle::logging
