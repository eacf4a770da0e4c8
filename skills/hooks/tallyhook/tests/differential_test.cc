// The hook's streaming parser against the plain reference parser, on real-shaped events and
// on many deterministic mutations of them: both must accept exactly the same texts and keep
// the same members, whether the text comes whole or a few bytes at a time.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <random>

#include "chunked_stream.h"
#include "hook_event.h"
#include "reference_json.h"
#include "string_kernel.h"
#include "test_support.h"

namespace tallyhook {
namespace {

using testing::RefOutcome;
using testing::RefValue;

std::vector<std::string> seed_events() {
  std::vector<std::string> seeds;
  for (const auto& entry : std::filesystem::directory_iterator(FUZZ_CORPUS_DIR "/event")) {
    seeds.push_back(testing::read_file(entry.path()));
  }
  return seeds;
}

// Bytes that tend to change what a JSON text means.
constexpr std::string_view kInteresting =
    "\"\\{}[],:0123456789eE+-.tfnrul \t\n\r/u\x00\x01\x1f\x7f\x80\xbf\xc0\xc3\xe0\xed\xef\xf0\xf4"
    "\xf5\xff";

std::string mutate(std::string text, std::mt19937& rng) {
  auto pick = [&](std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n)(rng); };
  const std::size_t edits = 1 + pick(3);
  for (std::size_t e = 0; e < edits; ++e) {
    const std::size_t at = pick(text.size());
    switch (pick(5)) {
      case 0:
        if (at < text.size()) text[at] = kInteresting[pick(kInteresting.size() - 1)];
        break;
      case 1:
        text.insert(at, 1, kInteresting[pick(kInteresting.size() - 1)]);
        break;
      case 2:
        if (at < text.size()) text.erase(at, 1 + pick(3));
        break;
      case 3:
        text.insert(at, text.substr(pick(text.size()), pick(16)));
        break;
      case 4:
        text.resize(at);
        break;
      default:
        text.insert(at, R"("tool_name":"Skill",)");
        break;
    }
  }
  return text;
}

void expect_same_as_reference(const std::string& text) {
  RefValue document;
  const RefOutcome outcome = testing::reference_parse(text, &document);
  if (outcome == RefOutcome::kTooDeep) return;
  const HookEvent expected =
      outcome == RefOutcome::kValid ? testing::reference_event(document) : HookEvent{};
  for (const StringKernel* kernel : supported_string_kernels()) {
    SCOPED_TRACE(kernel->name);
    const std::optional<HookEvent> whole = parse_hook_event(text, *kernel);
    ASSERT_EQ(whole.has_value(), outcome == RefOutcome::kValid) << ::testing::PrintToString(text);
    if (whole) {
      EXPECT_EQ(testing::describe_difference(expected, *whole), "")
          << ::testing::PrintToString(text);
    }
    // A few bytes at a time, and in reads that cut 64-byte blocks at varying places.
    for (const std::size_t chunk : {1 + text.size() % 7, 60 + text.size() % 11}) {
      testing::ChunkedStream stream(text, chunk);
      const std::optional<HookEvent> streamed = parse_hook_event(stream, *kernel);
      ASSERT_EQ(streamed.has_value(), whole.has_value()) << ::testing::PrintToString(text);
      if (streamed) {
        EXPECT_EQ(testing::describe_difference(expected, *streamed), "")
            << ::testing::PrintToString(text);
      }
    }
  }
}

// 20,000 by default; TALLYHOOK_MUTATIONS=100000 for a deeper run (docs/FUZZING.md).
int mutation_count() {
  const char* count = std::getenv("TALLYHOOK_MUTATIONS");
  return count != nullptr ? std::atoi(count) : 20000;
}

TEST(Differential, SeedEventsAgree) {
  for (const std::string& seed : seed_events()) expect_same_as_reference(seed);
}

TEST(Differential, MutatedEventsAgree) {
  std::mt19937 rng(20261208);  // fixed: the same texts on every run
  const std::vector<std::string> seeds = seed_events();
  const int count = mutation_count();
  for (int i = 0; i < count; ++i) {
    expect_same_as_reference(mutate(seeds[static_cast<std::size_t>(i) % seeds.size()], rng));
    if (::testing::Test::HasFailure()) return;
  }
}

}  // namespace
}  // namespace tallyhook
