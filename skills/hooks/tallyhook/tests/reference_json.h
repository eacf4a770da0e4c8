#ifndef TALLYHOOK_TESTS_REFERENCE_JSON_H_
#define TALLYHOOK_TESTS_REFERENCE_JSON_H_

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "hook_event.h"

namespace tallyhook::testing {

// A deliberately plain, recursive JSON parser that builds the whole document: the oracle
// the hook's streaming parser is checked against. It shares no code with it.
struct RefValue {
  JsonKind kind = JsonKind::kNull;
  std::string text;               // a string's decoded content, or a number as written
  std::vector<RefValue> items;    // an array's items, or an object's member values
  std::vector<std::string> keys;  // an object's member names, in document order, repeats kept
};

enum class RefOutcome { kValid, kInvalid, kTooDeep };

// Strict RFC 8259 in UTF-8: one value, optional space/tab/LF/CR around it. Containers nested
// deeper than `max_depth` give kTooDeep (the oracle does not know the answer then).
RefOutcome reference_parse(std::string_view text, RefValue* document, int max_depth = 200);

// What the hook should keep of a valid document, worked out from the whole tree.
HookEvent reference_event(const RefValue& document);

// Empty when the two agree on everything the hook reads; otherwise what differs.
std::string describe_difference(const HookEvent& expected, const HookEvent& actual);

}  // namespace tallyhook::testing

#endif  // TALLYHOOK_TESTS_REFERENCE_JSON_H_
