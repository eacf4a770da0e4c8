#include "test_support.h"

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace tallyhook::testing {

void write_file(const std::filesystem::path& path, const std::string& content) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << content;
  if (!file) throw std::runtime_error("cannot write " + path.string());
}

std::string read_file(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream content;
  content << file.rdbuf();
  return content.str();
}

std::vector<std::string> read_lines(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::vector<std::string> lines;
  for (std::string line; std::getline(file, line);) lines.push_back(line);
  return lines;
}

ProcessResult run_process(const ProcessOptions& options, const std::string& input) {
  return RunningProcess(options).finish(input);
}

}  // namespace tallyhook::testing
