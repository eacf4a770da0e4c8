#include "hook_event.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "chunked_stream.h"
#include "string_kernel.h"

namespace tallyhook {
namespace {

using testing::ChunkedStream;

using namespace std::string_literals;

struct ValidityCase {
  const char* label;
  std::string text;
  bool valid;
};

void PrintTo(const ValidityCase& c, std::ostream* os) { *os << c.label; }

// Reads of a few bytes cut every token and character at the window's end; 61 and 64 cut
// 64-byte blocks of the padded texts below in different places.
constexpr std::size_t kChunkSizes[] = {1, 2, 3, 7, 61, 64, 100000};

// The case's text as it is; as the value of a member that the parser validates without
// keeping, where a large event spends its time; and with plain characters or escapes put in
// front of what its first string holds, which changes nothing of its validity but brings
// that content to every offset of a string kernel's 64-byte block.
std::vector<std::string> placements(const std::string& text) {
  std::vector<std::string> texts = {text, R"({"tool_response":)" + text + "}"};
  const std::size_t quote = text.find('"');
  if (quote == std::string::npos) return texts;
  for (const std::string_view filler : {"\xC3\xA9", "\\t", "x"}) {
    std::string padded = text;
    for (std::size_t count = 1; count <= 70; ++count) {
      padded.insert(quote + 1, filler);
      texts.push_back(padded);
    }
  }
  return texts;
}

class ParserValidity : public ::testing::TestWithParam<ValidityCase> {};

TEST_P(ParserValidity, AcceptsExactlyStrictJson) {
  for (const StringKernel* kernel : supported_string_kernels()) {
    for (const std::string& text : placements(GetParam().text)) {
      SCOPED_TRACE(::testing::Message() << kernel->name << " " << ::testing::PrintToString(text));
      ASSERT_EQ(parse_hook_event(text, *kernel).has_value(), GetParam().valid);
      for (const std::size_t chunk : kChunkSizes) {
        SCOPED_TRACE(chunk);
        ChunkedStream stream(text, chunk);
        ASSERT_EQ(parse_hook_event(stream, *kernel).has_value(), GetParam().valid);
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Json, ParserValidity,
    ::testing::Values(
        ValidityCase{"Object", R"({"tool_name":"Read","tool_input":{"file_path":"/a"}})", true},
        ValidityCase{"Scalars", R"([null,true,false,0,-0,1.5e+3,-2E-7,"x",{},[]])", true},
        ValidityCase{"HugeNumber", "[1e999999999, 123456789012345678901234567890.5]", true},
        ValidityCase{"SurroundingWhiteSpace", " \t\r\n{} \t\r\n", true},
        ValidityCase{"Escapes", R"(["\"\\\/\b\f\n\r\t\u00e9\ud83d\ude00\u0000"])", true},
        ValidityCase{"RawUnicode", "[\"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80\"]", true},
        ValidityCase{"Empty", "", false}, ValidityCase{"OnlyWhiteSpace", " \n\t ", false},
        ValidityCase{"LoneBrace", "{", false}, ValidityCase{"TwoDocuments", "{} {}", false},
        ValidityCase{"TrailingGarbage", "{}x", false},
        ValidityCase{"ByteOrderMark", "\xEF\xBB\xBF{}", false},
        ValidityCase{"NulAfterValue", "{}\0garbage"s, false},
        ValidityCase{"NulBeforeValue", "\0{}"s, false},
        ValidityCase{"RawNulInString", "[\"a\0b\"]"s, false},
        ValidityCase{"RawControlInString", "[\"a\x01\"]", false},
        ValidityCase{"RawTabInString", "[\"a\tb\"]", false},
        ValidityCase{"FormFeedAsWhiteSpace", "\f{}", false},
        ValidityCase{"VerticalTabAsWhiteSpace", "{}\v", false},
        ValidityCase{"NoBreakSpaceAsWhiteSpace", "\xC2\xA0{}", false},
        ValidityCase{"OverlongSlash", "[\"\xC0\xAF\"]", false},
        ValidityCase{"OverlongThreeBytes", "[\"\xE0\x80\xAF\"]", false},
        ValidityCase{"EncodedSurrogate", "[\"\xED\xA0\x80\"]", false},
        ValidityCase{"PastUnicode", "[\"\xF4\x90\x80\x80\"]", false},
        ValidityCase{"TruncatedSequence", "[\"\xE2\x82\"]", false},
        ValidityCase{"StrayContinuation", "[\"\x80\"]", false},
        ValidityCase{"InvalidByteOutsideString", "[\xFF]", false},
        // Lone surrogate escapes are valid JSON (hosts cut texts inside a pair); encoded as
        // raw bytes they are not UTF-8.
        ValidityCase{"LoneLowSurrogateEscape", R"(["\udc00"])", true},
        ValidityCase{"LoneHighSurrogateEscape", R"(["\ud800"])", true},
        ValidityCase{"HighSurrogateThenLetter", R"(["\ud800\u0041x"])", true},
        ValidityCase{"LowThenHighSurrogate", R"({"\udc00\ud800":"\uDBFF"})", true},
        ValidityCase{"HighSurrogateThenBadEscape", R"(["\ud800\u12"])", false},
        ValidityCase{"HighSurrogateThenUnknownEscape", R"(["\ud800\x"])", false},
        ValidityCase{"EndsAfterHighSurrogate", R"(["\ud800)", false},
        ValidityCase{"EncodedLowSurrogate", "[\"\xED\xB0\x80\"]", false},
        ValidityCase{"ShortUnicodeEscape", R"(["\u12"])", false},
        ValidityCase{"UnknownEscape", R"(["\x41"])", false},
        ValidityCase{"LeadingZero", "[01]", false}, ValidityCase{"BareFraction", "[.5]", false},
        ValidityCase{"EmptyFraction", "[1.]", false}, ValidityCase{"EmptyExponent", "[1e+]", false},
        ValidityCase{"PlusSign", "[+1]", false}, ValidityCase{"LoneMinus", "[-]", false},
        ValidityCase{"NaN", "[NaN]", false}, ValidityCase{"Infinity", "[-Infinity]", false},
        ValidityCase{"Comment", "{} // done", false},
        ValidityCase{"TrailingComma", R"({"a":1,})", false},
        ValidityCase{"MissingColon", R"({"a" 1})", false},
        ValidityCase{"SingleQuotes", "{'a':1}", false}, ValidityCase{"UnquotedKey", "{a:1}", false},
        ValidityCase{"TruncatedLiteral", "[tru]", false},
        ValidityCase{"UnclosedString", "[\"abc", false},
        ValidityCase{"EndsInsideEscape", "[\"\\", false},
        ValidityCase{"EndsInsideUnicodeEscape", "[\"\\u00", false},
        ValidityCase{"EndsInsideSequence", "[\"\xE6\x9D", false},
        ValidityCase{"MismatchedClose", "[}", false},
        ValidityCase{"ArrayClosedAsObject", "[1}", false},
        ValidityCase{"ObjectClosedAsArray", R"({"a":1])", false},
        ValidityCase{"ClosedInTheWrongOrder", R"([{"a":[]]})", false},
        ValidityCase{"WhiteSpaceEverywhere",
                     "[ {\t\"a\" :\r\n[ 1 , { } ,[ ] , \"x\" ,true ] , \"b\":{ \"c\" : null } } ]",
                     true},
        ValidityCase{"NestedMixed", R"({"a":[{"b":[0,{"c":[[],{}]},-1.5e3]},"d"],"e":{}})", true},
        ValidityCase{"UnclosedNested", R"([{"a":[1,{"b":2}])", false},
        ValidityCase{"ColonInArray", R"(["a":1])", false},
        ValidityCase{"MissingValue", R"({"a":})", false},
        ValidityCase{"LeadingComma", "[,1]", false}, ValidityCase{"MissingComma", "[1 2]", false},
        ValidityCase{"MissingMember", R"({"a":1,,"b":2})", false},
        ValidityCase{"ValueWithoutName", R"({"a":1,2})", false},
        ValidityCase{"StringsWithoutComma", R"(["a" "b"])", false},
        ValidityCase{"LetterAfterNumber", "[12x]", false},
        ValidityCase{"LetterAfterLiteral", "[truex]", false},
        ValidityCase{"TwoLiterals", "[nullnull]", false},
        ValidityCase{"EndsInNumber", "[12", false}, ValidityCase{"EndsAfterMinus", "[-", false},
        ValidityCase{"EndsAfterPoint", "[1.", false}, ValidityCase{"EndsAfterE", "[1e", false},
        ValidityCase{"EndsInLiteral", "[fals", false}, ValidityCase{"EndsAfterComma", "[1,", false},
        ValidityCase{"EndsAfterName", R"({"a")", false}),
    [](const auto& test) { return std::string(test.param.label); });

TEST(Parser, FailedReadIsNoText) {
  ChunkedStream stream("{}", 1, /*fail_at_end=*/true);
  EXPECT_FALSE(parse_hook_event(stream).has_value());
}

TEST(Parser, DeepNestingEndsInAResult) {
  // Kept containers (the event and its tool_input) and skipped ones alike.
  const std::string tool_input = R"({"tool_input":{"x":)";
  for (const auto& [depth, valid] : std::initializer_list<std::pair<std::size_t, bool>>{
           {kDeepestNesting, true}, {kDeepestNesting + 1, false}, {1'000'000, false}}) {
    SCOPED_TRACE(depth);
    EXPECT_FALSE(parse_hook_event(std::string(depth, '[')).has_value());
    const auto nested = parse_hook_event(std::string(depth, '[') + std::string(depth, ']'));
    ASSERT_EQ(nested.has_value(), valid);
    if (valid) {
      EXPECT_EQ(nested->kind, JsonKind::kArray);
    }
    const std::size_t inner = depth - 2;  // inside the event and its tool_input
    const auto in_event =
        parse_hook_event(tool_input + std::string(inner, '[') + std::string(inner, ']') + "}}");
    EXPECT_EQ(in_event.has_value(), valid);
  }
}

TEST(Parser, TokensLongerThanTheWindowAreValidatedToTheirEnd) {
  const std::string number = std::string(70'000, '1') + ".5e-" + std::string(70'000, '2');
  const std::string text = std::string(70'000, 'x') + "\\u00e9" + std::string(70'000, 'y');
  std::vector<std::pair<std::string, bool>> events;
  for (const auto& [value, valid] :
       std::initializer_list<std::pair<std::string, bool>>{{number, true},
                                                           {number + "x", false},
                                                           {number.substr(0, 70'001), false},
                                                           {'"' + text + '"', true},
                                                           {'"' + text + "\x01\"", false},
                                                           {'"' + text, false}}) {
    events.emplace_back(R"({"tool_response":[)" + value + "]}", valid);
  }
  // Kept texts past their limits, where the rest is only validated: a command recognised
  // early, and a member name.
  const std::string command = R"({"tool_input":{"command":"zindle auth )" + text;
  events.emplace_back(command + "\"}}", true);
  events.emplace_back(command + "\x01\"}}", false);
  events.emplace_back(command + "\\q\"}}", false);
  events.emplace_back(R"({")" + text + R"(\ud800":1})", true);
  events.emplace_back(R"({")" + text + R"(\u12":1})", false);
  for (const auto& [event, valid] : events) {
    SCOPED_TRACE(::testing::Message() << valid << " " << event.size());
    EXPECT_EQ(parse_hook_event(event).has_value(), valid);
    for (const std::size_t chunk : {std::size_t{7}, std::size_t{4096}}) {
      ChunkedStream stream(event, chunk);
      EXPECT_EQ(parse_hook_event(stream).has_value(), valid) << chunk;
    }
  }
}

TEST(Parser, ReportsTheDocumentKind) {
  const std::pair<const char*, JsonKind> cases[] = {
      {"{}", JsonKind::kObject}, {" [1]", JsonKind::kArray}, {"\"x\"", JsonKind::kString},
      {"-1", JsonKind::kNumber}, {"true", JsonKind::kTrue},  {"null", JsonKind::kNull}};
  for (const auto& [text, kind] : cases) {
    SCOPED_TRACE(text);
    ASSERT_TRUE(parse_hook_event(text).has_value());
    EXPECT_EQ(parse_hook_event(text)->kind, kind);
  }
}

// What the event reader keeps of the members the hook reads.
struct FieldCase {
  const char* label;
  std::string text;
  JsonKind kind;
  bool truthy;
  std::string value;  // decoded text, for strings
  bool too_long = false;
};

void PrintTo(const FieldCase& c, std::ostream* os) { *os << c.label; }

JsonField command_of(const std::string& text) {
  const auto event = parse_hook_event(text);
  EXPECT_TRUE(event.has_value()) << text;
  return event ? event->tool.command : JsonField{};
}

class CommandField : public ::testing::TestWithParam<FieldCase> {};

TEST_P(CommandField, KeepsKindTruthinessAndText) {
  const JsonField field = command_of(GetParam().text);
  EXPECT_EQ(field.kind, GetParam().kind);
  EXPECT_EQ(field.truthy, GetParam().truthy);
  EXPECT_EQ(field.text, GetParam().value);
  EXPECT_EQ(field.too_long, GetParam().too_long);
  const std::optional<std::string_view> shell_skill =
      parse_hook_event(GetParam().text)->tool.shell_command_skill;
  for (const StringKernel* kernel : supported_string_kernels()) {
    for (const std::size_t chunk : kChunkSizes) {
      SCOPED_TRACE(::testing::Message() << kernel->name << " " << chunk);
      ChunkedStream stream(GetParam().text, chunk);
      const auto streamed = parse_hook_event(stream, *kernel);
      ASSERT_TRUE(streamed.has_value());
      EXPECT_EQ(streamed->tool.command.kind, field.kind);
      EXPECT_EQ(streamed->tool.command.truthy, field.truthy);
      EXPECT_EQ(streamed->tool.command.text, field.text);
      EXPECT_EQ(streamed->tool.command.too_long, field.too_long);
      EXPECT_EQ(streamed->tool.shell_command_skill, shell_skill);
    }
  }
}

const std::string kLongestText(kLongestSkillName, 'x');

#define EVENT(command) R"({"tool_name":"Bash","tool_input":{"command":)" command "}}"

INSTANTIATE_TEST_SUITE_P(
    Json, CommandField,
    ::testing::Values(
        FieldCase{"Text", EVENT(R"("zindle auth")"), JsonKind::kString, true, "zindle auth"},
        FieldCase{"EscapedText", EVENT(R"("a\tb\u00e9\ud83d\ude00\"")"), JsonKind::kString, true,
                  "a\tb\xC3\xA9\xF0\x9F\x98\x80\""},
        FieldCase{"NulInText", EVENT(R"("zin\u0000auth")"), JsonKind::kString, true, "zin\0auth"s},
        // Lone surrogates are kept as WTF-8; a pair after a lone high one is still a pair.
        FieldCase{"LoneSurrogates", EVENT(R"("a\ud83d|\ude00|\ud800\ud83d\ude00")"),
                  JsonKind::kString, true,
                  "a\xED\xA0\xBD|\xED\xB8\x80|\xED\xA0\x80\xF0\x9F\x98\x80"},
        FieldCase{"EmptyText", EVENT(R"("")"), JsonKind::kString, false, ""},
        FieldCase{"Zero", EVENT("0"), JsonKind::kNumber, false, ""},
        FieldCase{"NegativeZeroFraction", EVENT("-0.000e7"), JsonKind::kNumber, false, ""},
        FieldCase{"TinyButNotZero", EVENT("1e-400"), JsonKind::kNumber, true, ""},
        FieldCase{"FractionOnly", EVENT("0.5"), JsonKind::kNumber, true, ""},
        FieldCase{"Seven", EVENT("7"), JsonKind::kNumber, true, ""},
        FieldCase{"Null", EVENT("null"), JsonKind::kNull, false, ""},
        FieldCase{"False", EVENT("false"), JsonKind::kFalse, false, ""},
        FieldCase{"True", EVENT("true"), JsonKind::kTrue, true, ""},
        FieldCase{"EmptyArray", EVENT("[ ]"), JsonKind::kArray, false, ""},
        FieldCase{"Array", EVENT("[0]"), JsonKind::kArray, true, ""},
        FieldCase{"EmptyObject", EVENT("{ }"), JsonKind::kObject, false, ""},
        FieldCase{"Object", EVENT(R"({"a":1})"), JsonKind::kObject, true, ""},
        FieldCase{"LastOccurrenceWins", EVENT(R"("first","command":"second")"), JsonKind::kString,
                  true, "second"},
        FieldCase{"EscapedKey", R"({"tool_input":{"comm\u0061nd":"x"}})", JsonKind::kString, true,
                  "x"},
        FieldCase{"RepeatedToolInputForgetsEarlierMembers",
                  R"({"tool_input":{"command":"x"},"tool_input":{"other":1}})", JsonKind::kAbsent,
                  false, ""},
        FieldCase{"ToolInputNotAnObject", R"({"tool_input":["command","x"]})", JsonKind::kAbsent,
                  false, ""},
        FieldCase{"NestedDeeper", R"({"tool_input":{"a":{"command":"x"}}})", JsonKind::kAbsent,
                  false, ""},
        FieldCase{"ToolInputBelowTopLevel", R"({"x":{"tool_input":{"command":"x"}}})",
                  JsonKind::kAbsent, false, ""},
        FieldCase{"TopLevelArray", R"([{"tool_input":{"command":"x"}}])", JsonKind::kAbsent, false,
                  ""},
        // Kept up to the longest skill name, and dropped whole past it.
        FieldCase{"LongestKept", R"({"tool_input":{"command":")" + kLongestText + "\"}}",
                  JsonKind::kString, true, kLongestText},
        FieldCase{"TooLongToKeep", R"({"tool_input":{"command":")" + kLongestText + "\\u00e9\"}}",
                  JsonKind::kString, true, "", true}),
    [](const auto& test) { return std::string(test.param.label); });

TEST(Parser, KeepsMembersOnlyWhereTheyBelong) {
  const auto event = parse_hook_event(
      R"({"a":{"tool_name":"Skill"},"tool_name":"Read","tool_name":"Skill",)"
      R"("tool_input":{"skill":"zin-auth","command":"","command_name":"x","toolArgs":{}},)"
      R"("mcp_context":{"tool_name":"query_run","command":"zindle auth"},)"
      R"("toolArgs":{"name":"n","tool_name":"t"},"toolName":"skill",)"
      R"("tool_response":{"tool_name":1,"hook_event_name":"x","mcp_context":{"tool_name":"y"}}})");
  ASSERT_TRUE(event.has_value());
  EXPECT_EQ(event->hook_event_name.kind, JsonKind::kAbsent);
  EXPECT_EQ(event->command_name.kind, JsonKind::kAbsent);
  EXPECT_EQ(event->tool.tool_name.text, "Skill");
  EXPECT_EQ(event->tool.tool_input.kind, JsonKind::kObject);
  EXPECT_TRUE(event->tool.tool_input.truthy);
  EXPECT_EQ(event->tool.skill.text, "zin-auth");
  EXPECT_EQ(event->tool.command.kind, JsonKind::kString);
  EXPECT_FALSE(event->tool.command.truthy);
  EXPECT_EQ(event->mcp_tool_name.text, "query_run");
  // The usual spelling is here, so the camelCase one counts for nothing.
  EXPECT_EQ(event->camel_case_tool.tool_input.kind, JsonKind::kAbsent);
  EXPECT_EQ(event->camel_case_tool.name.kind, JsonKind::kAbsent);
  EXPECT_EQ(event->camel_case_tool.tool_name.kind, JsonKind::kAbsent);
}

}  // namespace
}  // namespace tallyhook
