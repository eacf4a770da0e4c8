#include "hook_event.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "bash_command.h"
#include "event_members.h"
#include "string_kernel.h"
#include "string_scan.h"
#include "utf8.h"

namespace tallyhook {

std::string_view kind_name(JsonKind kind) {
  switch (kind) {
    case JsonKind::kAbsent:
      return "absent";
    case JsonKind::kNull:
      return "null";
    case JsonKind::kFalse:
    case JsonKind::kTrue:
      return "boolean";
    case JsonKind::kNumber:
      return "number";
    case JsonKind::kString:
      return "string";
    case JsonKind::kArray:
      return "array";
    case JsonKind::kObject:
      return "object";
  }
  return "unknown";
}

namespace {

constexpr bool is_high_surrogate(char32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
constexpr bool is_low_surrogate(char32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

inline int hex_value(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

constexpr bool is_json_white_space(unsigned char c) {
  return c == ' ' || c == '\n' || c == '\r' || c == '\t';
}

// Where the number that starts at p (before end) ends: nullptr when the bytes there are not
// a number, `end` when they reach it, as the number may go on past it.
inline const unsigned char* number_end(const unsigned char* p, const unsigned char* end) {
  auto digit = [&] { return p != end && static_cast<unsigned>(*p - '0') < 10; };
  auto digits = [&] {
    while (digit()) ++p;
  };
  if (*p == '-') ++p;
  if (p != end && *p == '0') {
    ++p;
  } else if (digit()) {
    digits();
  } else {
    return p == end ? end : nullptr;
  }
  if (p != end && *p == '.') {
    ++p;
    if (!digit()) return p == end ? end : nullptr;
    digits();
  }
  if (p != end && (*p == 'e' || *p == 'E')) {
    ++p;
    if (p != end && (*p == '+' || *p == '-')) ++p;
    if (!digit()) return p == end ? end : nullptr;
    digits();
  }
  return p;
}

// Where `word` at p ends: nullptr when the bytes there differ, `end` when there are too few.
inline const unsigned char* literal_end(const unsigned char* p, const unsigned char* end,
                                        std::string_view word) {
  if (static_cast<std::size_t>(end - p) < word.size()) return end;
  return std::memcmp(p, word.data(), word.size()) == 0 ? p + word.size() : nullptr;
}

// Receives the decoded text of a kept string, piece by piece: keeps at most `limit` bytes of
// it in `text`, and hands every piece to `scanner`, where there is one.
struct TextSink {
  std::string* text;
  bool* too_long;
  std::size_t limit;
  ZindleCommandScanner* scanner = nullptr;

  void append(const char* piece, std::size_t size) {
    if (scanner != nullptr) scanner->feed(std::string_view(piece, size));
    if (*too_long) return;
    if (size > limit - text->size()) {
      *too_long = true;
      std::string().swap(*text);
      return;
    }
    if (size > text->capacity() - text->size()) {
      // These texts are all the memory an event can claim. A short one doubles as append
      // would; a long one takes its limit at once, which leaves no trail of outgrown
      // buffers behind, and whose pages become resident only as they are written.
      constexpr std::size_t kShortText = 4096;
      const std::size_t needed = text->size() + size;
      std::string grown;
      grown.reserve(needed <= kShortText ? std::max(needed, 2 * text->capacity()) : limit);
      grown = *text;
      text->swap(grown);
    }
    text->append(piece, size);
  }
  void append(const unsigned char* piece, std::size_t size) {
    append(reinterpret_cast<const char*>(piece), size);
  }
  // Whether any more of the text would change what is kept.
  bool wants_more() const { return !*too_long || (scanner != nullptr && !scanner->decided()); }
};

void append_utf8(TextSink* out, char32_t cp) {
  char buf[4];
  std::size_t n;
  if (cp < 0x80) {
    buf[0] = static_cast<char>(cp);
    n = 1;
  } else if (cp < 0x800) {
    buf[0] = static_cast<char>(0xC0 | (cp >> 6));
    buf[1] = static_cast<char>(0x80 | (cp & 0x3F));
    n = 2;
  } else if (cp < 0x10000) {
    buf[0] = static_cast<char>(0xE0 | (cp >> 12));
    buf[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    buf[2] = static_cast<char>(0x80 | (cp & 0x3F));
    n = 3;
  } else {
    buf[0] = static_cast<char>(0xF0 | (cp >> 18));
    buf[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    buf[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    buf[3] = static_cast<char>(0x80 | (cp & 0x3F));
    n = 4;
  }
  out->append(buf, n);
}

class Parser {
 public:
  // Over a text held whole in memory.
  Parser(std::string_view text, const StringKernel& kernel)
      : kernel_(&kernel),
        p_(reinterpret_cast<const unsigned char*>(text.data())),
        end_(p_ + text.size()) {}
  // Over a stream, read through a window as the parse goes.
  // Without a kernel, the portable one until the text outgrows the window.
  Parser(ByteStream& input, const StringKernel* kernel)
      : kernel_(kernel != nullptr ? kernel : &kPortableStringKernel),
        choose_kernel_when_large_(kernel == nullptr),
        input_(&input),
        window_(new unsigned char[kWindowSize]),
        p_(window_.get()),
        end_(p_) {}

  bool parse(HookEvent* event);

  // Small enough to stay in the processor's cache, large enough for few reads.
  static constexpr std::size_t kWindowSize = 64 * 1024;
  // Text beyond this is large enough to pay for choosing the fastest string kernel.
  static constexpr std::size_t kLargeText = kWindowSize;

 private:
  // Makes at least `count` bytes available at p_, unless the text ends first.
  bool available(std::size_t count) {
    return static_cast<std::size_t>(end_ - p_) >= count || refill(count);
  }
  bool refill(std::size_t count);

  void skip_white_space() {
    // Events are mostly compact: the first byte is usually not white space.
    if (p_ != end_ && *p_ > ' ') [[likely]]
      return;
    do {
      while (p_ != end_ && is_json_white_space(*p_)) ++p_;
    } while (p_ == end_ && refill(1));
  }
  bool at(unsigned char c) { return available(1) && *p_ == c; }

  // Each of these starts at the first byte of its token and leaves p_ just after it.
  bool string(TextSink* out) {
    // Most strings hold nothing that needs a closer look: find the closing quote at once.
    const unsigned char* special = find_string_special(p_ + 1, end_);
    if (special != end_ && *special == '"') {
      if (out != nullptr) out->append(p_ + 1, static_cast<std::size_t>(special - p_ - 1));
      p_ = special + 1;
      return true;
    }
    if (out != nullptr) return kept_string(out);
    p_ = special;
    return skip_string_content();
  }
  // A string whose text is appended to `out` (not null), from its opening quote.
  bool kept_string(TextSink* out);
  // The rest of a string that is only validated, from the start of a unit in it.
  bool skip_string_content();
  bool escape(TextSink* out);
  // The code unit of the four hex digits at p_ + offset, if they are there.
  bool hex4_at(std::ptrdiff_t offset, char32_t* unit) const {
    if (end_ - p_ < offset + 4) return false;
    char32_t v = 0;
    for (std::ptrdiff_t i = offset; i < offset + 4; ++i) {
      const int d = hex_value(p_[i]);
      if (d < 0) return false;
      v = (v << 4) | static_cast<char32_t>(d);
    }
    *unit = v;
    return true;
  }
  bool number(bool* nonzero);
  bool literal(const char* word, std::size_t length);

  // Validates a container whose value goes nowhere, from its opening bracket to just past
  // its closing one, pushing its open containers on `stack` as parse() does.
  bool skip_container(std::vector<Container>* stack);

  // Parses `"key" :` in an object of the given kind and returns, through `member`, the kept
  // member it names (none: the value goes nowhere).
  bool member_key(Container object, const KeptMember** member);

  // Records the kind and truthiness of a kept member's value, forgetting what an earlier
  // occurrence of the member, and its own members, left (and the memory their texts held).
  void record(const KeptMember& member, JsonKind kind, bool truthy);

  const StringKernel* kernel_;
  bool choose_kernel_when_large_ = false;
  std::size_t bytes_read_ = 0;
  ByteStream* input_ = nullptr;  // none once the text has ended
  bool read_failed_ = false;
  std::unique_ptr<unsigned char[]> window_;
  const unsigned char* p_;
  const unsigned char* end_;
  HookEvent* event_ = nullptr;
  // Reads a command line while it streams.
  ZindleCommandScanner command_scanner_;
  std::string key_;
  bool usual_spelling_ = false;  // a member of the usual spelling has been met
};

bool Parser::refill(std::size_t count) {
  if (input_ == nullptr) return false;
  // Keep the bytes not yet parsed, at the front of the window.
  const std::size_t kept = static_cast<std::size_t>(end_ - p_);
  std::memmove(window_.get(), p_, kept);
  p_ = window_.get();
  end_ = p_ + kept;
  while (static_cast<std::size_t>(end_ - p_) < count) {
    const std::size_t room = kWindowSize - static_cast<std::size_t>(end_ - p_);
    const std::ptrdiff_t n =
        input_->read(reinterpret_cast<char*>(window_.get()) + (end_ - p_), room);
    if (n <= 0) {
      read_failed_ = n < 0;
      input_ = nullptr;
      return false;
    }
    end_ += n;
    bytes_read_ += static_cast<std::size_t>(n);
  }
  if (choose_kernel_when_large_ && bytes_read_ > kLargeText) {
    kernel_ = &string_kernel();
    choose_kernel_when_large_ = false;
  }
  return true;
}

void Parser::record(const KeptMember& member, JsonKind kind, bool truthy) {
  JsonField* field = member.field(*event_);
  field->kind = kind;
  field->truthy = truthy;
  std::string().swap(field->text);
  field->too_long = false;
  if (member.shell_command_skill != nullptr) member.shell_command_skill(*event_)->reset();
  if (member.members == Container::kObject) return;
  for (const KeptMember& inner : KEPT_MEMBERS) {
    if (inner.parent == member.members) record(inner, JsonKind::kAbsent, false);
  }
}

bool Parser::kept_string(TextSink* out) {
  ++p_;  // opening quote
  // Plain bytes and multi-byte characters are copied to `out` in runs, cut only where an
  // escape is decoded or the window moves.
  const unsigned char* run = p_;
  auto flush = [&] { out->append(run, static_cast<std::size_t>(p_ - run)); };
  for (;;) {
    p_ = find_string_special(p_, end_);
    if (end_ - p_ < 12) {  // room for the longest escape or character, unless the text ends
      flush();
      available(12);
      run = p_;
      if (p_ == end_) return false;
      // Past its limit, with nothing left to recognise, the rest is only validated.
      if (!out->wants_more()) return skip_string_content();
    }
    const unsigned char c = *p_;
    if (c == '"') {
      flush();
      ++p_;
      return true;
    }
    if (c == '\\') {
      flush();
      if (!escape(out)) return false;
      if (!out->wants_more()) return skip_string_content();
      run = p_;
      continue;
    }
    if (c < 0x20) return false;
    // A run of multi-byte characters, as in a word of Cyrillic or Chinese text (or a plain
    // byte, where the window has just moved).
    do {
      char32_t cp;
      const std::size_t n = decode_utf8(p_, end_, &cp);
      if (n == 0) return false;
      p_ += n;
    } while (end_ - p_ >= 4 && *p_ >= 0x80);
  }
}

bool Parser::skip_string_content() {
  for (;;) {
    p_ = kernel_->skip_string_content(p_, end_);
    // The kernel stops at a unit cut by the window's end; with more text, it goes on.
    if (end_ - p_ < 12 && input_ != nullptr) {
      refill(12);
      continue;
    }
    if (p_ == end_) return false;
    if (*p_ == '"') {
      ++p_;
      return true;
    }
    // What is left is a \u escape or invalid.
    if (*p_ != '\\' || !escape(nullptr)) return false;
  }
}

bool Parser::escape(TextSink* out) {
  available(12);  // the longest escape: a surrogate pair, \uXXXX\uXXXX
  ++p_;           // backslash
  if (p_ == end_) return false;
  char decoded;
  switch (*p_) {
    case '"':
      decoded = '"';
      break;
    case '\\':
      decoded = '\\';
      break;
    case '/':
      decoded = '/';
      break;
    case 'b':
      decoded = '\b';
      break;
    case 'f':
      decoded = '\f';
      break;
    case 'n':
      decoded = '\n';
      break;
    case 'r':
      decoded = '\r';
      break;
    case 't':
      decoded = '\t';
      break;
    case 'u': {
      char32_t cp;
      if (!hex4_at(1, &cp)) return false;
      p_ += 5;  // 'u' and four digits
      // A high surrogate and the low one escaped right after it are one character. Either
      // one alone is still valid JSON (hosts write one when they cut a text inside a pair)
      // and is kept as WTF-8: the three bytes its code point would have, which no valid
      // UTF-8 text holds, so the rest of the hook can tell it from any character.
      char32_t low;
      if (is_high_surrogate(cp) && end_ - p_ >= 2 && p_[0] == '\\' && p_[1] == 'u' &&
          hex4_at(2, &low) && is_low_surrogate(low)) {
        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
        p_ += 6;
      }
      if (out != nullptr) append_utf8(out, cp);
      return true;
    }
    default:
      return false;
  }
  ++p_;
  if (out != nullptr) out->append(&decoded, 1);
  return true;
}

bool Parser::number(bool* nonzero) {
  auto digit = [&] { return available(1) && *p_ >= '0' && *p_ <= '9'; };
  *nonzero = false;
  if (at('-')) ++p_;
  if (at('0')) {
    ++p_;
  } else if (digit()) {
    *nonzero = true;
    while (digit()) ++p_;
  } else {
    return false;
  }
  if (at('.')) {
    ++p_;
    if (!digit()) return false;
    while (digit()) *nonzero |= *p_++ != '0';
  }
  if (at('e') || at('E')) {
    ++p_;
    if (at('+') || at('-')) ++p_;
    if (!digit()) return false;
    while (digit()) ++p_;
  }
  return true;
}

bool Parser::literal(const char* word, std::size_t length) {
  if (!available(length) || std::memcmp(p_, word, length) != 0) {
    return false;
  }
  p_ += length;
  return true;
}

bool Parser::skip_container(std::vector<Container>* stack) {
  // Most of a large event is validated here and nothing of it kept, so this is the grammar
  // of parse() without kept members, on local copies of p_ and end_ that the compiler can
  // keep in registers. A token that the window cuts is taken again from its start by the
  // member function that reads on, which sees the text exactly as parse() would.
  const unsigned char* p = p_;
  const unsigned char* end = end_;
  auto sync = [&] { p_ = p; };
  auto reload = [&] {
    p = p_;
    end = end_;
  };
  // Leaves p at the next byte that is not white space; p == end when the text ends first.
  auto white_space = [&] {
    if (p != end && *p > ' ') [[likely]]
      return;
    for (;;) {
      while (p != end && is_json_white_space(*p)) ++p;
      if (p != end) return;
      sync();
      const bool more = refill(1);
      reload();
      if (!more) return;
    }
  };
  auto skip_string = [&] {
    const unsigned char* special = find_string_special(p + 1, end);
    if (special != end && *special == '"') {
      p = special + 1;
      return true;
    }
    // The plain bytes before `special` are scanned already.
    p_ = special;
    const bool valid = skip_string_content();
    reload();
    return valid;
  };
  auto skip_scalar = [&] {
    const unsigned char* after = nullptr;
    switch (*p) {
      case 't':
        after = literal_end(p, end, "true");
        break;
      case 'f':
        after = literal_end(p, end, "false");
        break;
      case 'n':
        after = literal_end(p, end, "null");
        break;
      default:
        after = number_end(p, end);
        break;
    }
    if (after == end) {  // cut by the window, or the text ends there
      sync();
      bool nonzero;
      const bool valid = *p == 't'   ? literal("true", 4)
                         : *p == 'f' ? literal("false", 5)
                         : *p == 'n' ? literal("null", 4)
                                     : number(&nonzero);
      reload();
      return valid;
    }
    if (after == nullptr) return false;
    p = after;
    return true;
  };

  // `"name" :` of a member, from the byte after `{` or `,` and its white space.
  auto member_name = [&] {
    if (p == end || *p != '"' || !skip_string()) return false;
    white_space();
    if (p == end || *p != ':') return false;
    ++p;
    return true;
  };

  const std::size_t outer_depth = stack->size();
  bool in_object;  // the innermost open container is an object
  for (;;) {
    // At an opening bracket.
    in_object = *p == '{';
    if (stack->size() == kDeepestNesting) return false;
    stack->push_back(in_object ? Container::kObject : Container::kArray);
    ++p;
    white_space();
    bool value_due = true;
    if (p != end && *p == (in_object ? '}' : ']')) {
      value_due = false;  // closed below
    } else if (in_object && !member_name()) {
      return false;
    }
    for (;;) {
      if (value_due) {
        white_space();
        if (p == end) return false;
        if (*p == '{' || *p == '[') break;  // to the opening bracket, above
        if (!(*p == '"' ? skip_string() : skip_scalar())) return false;
        white_space();
        if (p == end) return false;
      }
      // A value is complete, or a container empty: another value, or the container closes.
      if (*p == ',') {
        ++p;
        if (in_object) {
          white_space();
          if (!member_name()) return false;
        }
        value_due = true;
        continue;
      }
      if (*p != (in_object ? '}' : ']')) return false;
      ++p;
      stack->pop_back();
      if (stack->size() == outer_depth) {
        sync();
        return true;
      }
      in_object = stack->back() == Container::kObject;
      white_space();
      if (p == end) return false;
      value_due = false;
    }
  }
}

bool Parser::member_key(Container object, const KeptMember** member) {
  if (!at('"')) return false;
  const bool interesting = object != Container::kObject;
  key_.clear();
  // A name longer than any the hook looks for is cut to nothing, which matches none.
  bool too_long = false;
  TextSink sink{&key_, &too_long, kLongestName};
  if (!string(interesting ? &sink : nullptr)) return false;
  skip_white_space();
  if (!at(':')) return false;
  ++p_;
  *member = nullptr;
  if (!interesting) return true;
  for (const KeptMember& kept : KEPT_MEMBERS) {
    if (kept.parent == object && kept.name == key_) {
      *member = &kept;
      break;
    }
  }
  if (*member == nullptr) return true;
  switch ((*member)->spelling) {
    case Spelling::kAny:
      break;
    case Spelling::kUsual:
      if (!usual_spelling_) {
        usual_spelling_ = true;
        for (const KeptMember& kept : KEPT_MEMBERS) {
          if (kept.spelling == Spelling::kCamelCase) record(kept, JsonKind::kAbsent, false);
        }
      }
      break;
    case Spelling::kCamelCase:
      if (usual_spelling_) *member = nullptr;
      break;
  }
  return true;
}

bool Parser::parse(HookEvent* event) {
  event_ = event;
  std::vector<Container> stack;
  const KeptMember* member = nullptr;  // where the value goes, if anywhere
  for (;;) {
    // One value, into `member`.
    skip_white_space();
    if (!available(1)) return false;
    const bool top_level = stack.empty();
    auto found = [&](JsonKind kind, bool truthy) {
      if (member != nullptr) record(*member, kind, truthy);
      if (top_level) event_->kind = kind;
    };
    switch (*p_) {
      case '{':
      case '[': {
        const bool is_object = *p_ == '{';
        // A container that goes nowhere, but the whole document when that is an object.
        if (member == nullptr && (!top_level || !is_object)) {
          if (top_level) event_->kind = JsonKind::kArray;
          if (!skip_container(&stack)) return false;
          break;
        }
        ++p_;
        skip_white_space();
        const bool empty = at(is_object ? '}' : ']');
        found(is_object ? JsonKind::kObject : JsonKind::kArray, !empty);
        if (empty) {
          ++p_;
          break;
        }
        if (stack.size() == kDeepestNesting) return false;
        if (!is_object) {
          stack.push_back(Container::kArray);
          member = nullptr;
          continue;
        }
        const Container object = top_level ? Container::kEvent : member->members;
        stack.push_back(object);
        if (!member_key(object, &member)) return false;
        continue;
      }
      case '"': {
        const bool empty = available(2) && p_[1] == '"';
        found(JsonKind::kString, !empty);
        if (member == nullptr || member->text_limit == 0) {
          if (!string(nullptr)) return false;
          break;
        }
        JsonField* f = member->field(*event_);
        const bool command_line = member->shell_command_skill != nullptr;
        if (command_line) command_scanner_ = ZindleCommandScanner();
        TextSink sink{&f->text, &f->too_long, member->text_limit,
                      command_line ? &command_scanner_ : nullptr};
        if (!string(&sink)) return false;
        if (command_line) *member->shell_command_skill(*event_) = command_scanner_.finish();
        break;
      }
      case 't':
        if (!literal("true", 4)) return false;
        found(JsonKind::kTrue, true);
        break;
      case 'f':
        if (!literal("false", 5)) return false;
        found(JsonKind::kFalse, false);
        break;
      case 'n':
        if (!literal("null", 4)) return false;
        found(JsonKind::kNull, false);
        break;
      default: {
        bool nonzero;
        if (!number(&nonzero)) return false;
        found(JsonKind::kNumber, nonzero);
        break;
      }
    }
    // The value is complete: close containers until another value is due.
    for (;;) {
      skip_white_space();
      if (stack.empty()) return !available(1) && !read_failed_;
      if (!available(1)) return false;
      const Container container = stack.back();
      const bool in_object = container != Container::kArray;
      if (*p_ == ',') {
        ++p_;
        skip_white_space();
        if (in_object) {
          if (!member_key(container, &member)) return false;
        } else {
          member = nullptr;
        }
        break;
      }
      if (*p_ != (in_object ? '}' : ']')) return false;
      ++p_;
      stack.pop_back();
    }
  }
}

}  // namespace

std::optional<HookEvent> parse_hook_event(std::string_view text) {
  return parse_hook_event(
      text, text.size() > Parser::kLargeText ? string_kernel() : kPortableStringKernel);
}

std::optional<HookEvent> parse_hook_event(ByteStream& input) {
  HookEvent event;
  if (!Parser(input, nullptr).parse(&event)) return std::nullopt;
  return event;
}

std::optional<HookEvent> parse_hook_event(std::string_view text, const StringKernel& kernel) {
  HookEvent event;
  if (!Parser(text, kernel).parse(&event)) return std::nullopt;
  return event;
}

std::optional<HookEvent> parse_hook_event(ByteStream& input, const StringKernel& kernel) {
  HookEvent event;
  if (!Parser(input, &kernel).parse(&event)) return std::nullopt;
  return event;
}

}  // namespace tallyhook
