#ifndef ZINDLE_LOGGING_TESTS_TEST_SUPPORT_H_
#define ZINDLE_LOGGING_TESTS_TEST_SUPPORT_H_

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <string>

#include "zindle/logging.h"

namespace zindle::logging::testing {

// An anonymous temporary file, written through get() and read back whole.
class TempFile {
 public:
  TempFile() : file_(std::tmpfile()) {}
  ~TempFile() { std::fclose(file_); }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  std::FILE* get() const { return file_; }
  std::string contents() const {
    std::fflush(file_);
    std::rewind(file_);
    std::string text;
    for (int c; (c = std::fgetc(file_)) != EOF;) text.push_back(static_cast<char>(c));
    return text;
  }

 private:
  std::FILE* file_;
};

// Points a descriptor (1 or 2) at a temporary file until release(), which puts the original
// back and returns what was written meanwhile.
class FdCapture {
 public:
  explicit FdCapture(int fd) : fd_(fd) {
    std::fflush(nullptr);  // what is already buffered belongs to the original
    saved_ = dup(fd_);
    dup2(fileno(file_.get()), fd_);
  }
  ~FdCapture() { release(); }

  std::string release() {
    if (saved_ >= 0) {
      std::fflush(nullptr);
      dup2(saved_, fd_);
      close(saved_);
      saved_ = -1;
    }
    return file_.contents();
  }

 private:
  TempFile file_;
  int fd_;
  int saved_ = -1;
};

struct CountingHandler : Handler {
  void handle(const LogRecord&) override { ++count; }
  std::atomic<int> count{0};
};

}  // namespace zindle::logging::testing

#endif  // ZINDLE_LOGGING_TESTS_TEST_SUPPORT_H_
