// The same record as startup_zindle.cc, through spdlog set up to write the same line.
#include <spdlog/sinks/stdout_sinks.h>
#include <spdlog/spdlog.h>

int main() {
  auto log = spdlog::stderr_logger_mt("bench");
  log->set_pattern("[%n] %l: %v");
  log->set_level(spdlog::level::warn);
  log->warn("request {} from {}", 42, "ann");
}
