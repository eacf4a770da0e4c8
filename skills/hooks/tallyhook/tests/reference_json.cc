#include "reference_json.h"

#include "bash_command.h"

namespace tallyhook::testing {
namespace {

class RefParser {
 public:
  RefParser(std::string_view text, int max_depth) : s_(text), max_depth_(max_depth) {}

  RefOutcome document(RefValue* out) {
    ws();
    if (!value(out, 0)) return too_deep_ ? RefOutcome::kTooDeep : RefOutcome::kInvalid;
    ws();
    return i_ == s_.size() ? RefOutcome::kValid : RefOutcome::kInvalid;
  }

 private:
  int peek() const { return i_ < s_.size() ? static_cast<unsigned char>(s_[i_]) : -1; }
  void ws() {
    while (peek() == ' ' || peek() == '\t' || peek() == '\n' || peek() == '\r') ++i_;
  }
  bool eat(char c) {
    if (peek() != static_cast<unsigned char>(c)) return false;
    ++i_;
    return true;
  }
  bool word(std::string_view w) {
    if (s_.substr(i_, w.size()) != w) return false;
    i_ += w.size();
    return true;
  }

  bool value(RefValue* v, int depth) {
    if (depth > max_depth_) {
      too_deep_ = true;
      return false;
    }
    switch (peek()) {
      case '{':
        return object(v, depth);
      case '[':
        return array(v, depth);
      case '"':
        v->kind = JsonKind::kString;
        return string(&v->text);
      case 't':
        v->kind = JsonKind::kTrue;
        return word("true");
      case 'f':
        v->kind = JsonKind::kFalse;
        return word("false");
      case 'n':
        v->kind = JsonKind::kNull;
        return word("null");
      default:
        v->kind = JsonKind::kNumber;
        return number(&v->text);
    }
  }

  bool object(RefValue* v, int depth) {
    v->kind = JsonKind::kObject;
    ++i_;
    ws();
    if (eat('}')) return true;
    for (;;) {
      ws();
      std::string key;
      RefValue member;
      if (peek() != '"' || !string(&key)) return false;
      ws();
      if (!eat(':')) return false;
      ws();
      if (!value(&member, depth + 1)) return false;
      v->keys.push_back(std::move(key));
      v->items.push_back(std::move(member));
      ws();
      if (eat('}')) return true;
      if (!eat(',')) return false;
    }
  }

  bool array(RefValue* v, int depth) {
    v->kind = JsonKind::kArray;
    ++i_;
    ws();
    if (eat(']')) return true;
    for (;;) {
      ws();
      RefValue item;
      if (!value(&item, depth + 1)) return false;
      v->items.push_back(std::move(item));
      ws();
      if (eat(']')) return true;
      if (!eat(',')) return false;
    }
  }

  static bool is_digit(int c) { return c >= '0' && c <= '9'; }

  bool number(std::string* text) {
    const std::size_t start = i_;
    eat('-');
    if (eat('0')) {
    } else if (peek() >= '1' && peek() <= '9') {
      while (is_digit(peek())) ++i_;
    } else {
      return false;
    }
    if (eat('.')) {
      if (!is_digit(peek())) return false;
      while (is_digit(peek())) ++i_;
    }
    if (eat('e') || eat('E')) {
      if (!eat('+')) eat('-');
      if (!is_digit(peek())) return false;
      while (is_digit(peek())) ++i_;
    }
    *text = std::string(s_.substr(start, i_ - start));
    return true;
  }

  static void put(std::string* out, unsigned long cp) {
    if (cp < 0x80) {
      *out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      *out += static_cast<char>(0xC0 | (cp >> 6));
      *out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      *out += static_cast<char>(0xE0 | (cp >> 12));
      *out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      *out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      *out += static_cast<char>(0xF0 | (cp >> 18));
      *out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      *out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      *out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }

  bool hex4(unsigned long* unit) {
    if (i_ + 4 > s_.size()) return false;
    *unit = 0;
    for (int k = 0; k < 4; ++k) {
      const char c = s_[i_++];
      int d;
      if (c >= '0' && c <= '9') {
        d = c - '0';
      } else if (c >= 'a' && c <= 'f') {
        d = c - 'a' + 10;
      } else if (c >= 'A' && c <= 'F') {
        d = c - 'A' + 10;
      } else {
        return false;
      }
      *unit = *unit * 16 + static_cast<unsigned long>(d);
    }
    return true;
  }

  // One UTF-8 encoded character, following the well-formed byte sequences of RFC 3629.
  bool utf8(std::string* out) {
    auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s_[i_ + k]); };
    auto in = [](unsigned char b, unsigned lo, unsigned hi) { return b >= lo && b <= hi; };
    const unsigned char b0 = byte(0);
    std::size_t n;
    bool ok;
    const std::size_t left = s_.size() - i_;
    if (in(b0, 0xC2, 0xDF)) {
      n = 2;
      ok = left >= 2 && in(byte(1), 0x80, 0xBF);
    } else if (b0 == 0xE0) {
      n = 3;
      ok = left >= 3 && in(byte(1), 0xA0, 0xBF) && in(byte(2), 0x80, 0xBF);
    } else if (in(b0, 0xE1, 0xEC) || in(b0, 0xEE, 0xEF)) {
      n = 3;
      ok = left >= 3 && in(byte(1), 0x80, 0xBF) && in(byte(2), 0x80, 0xBF);
    } else if (b0 == 0xED) {
      n = 3;
      ok = left >= 3 && in(byte(1), 0x80, 0x9F) && in(byte(2), 0x80, 0xBF);
    } else if (b0 == 0xF0) {
      n = 4;
      ok = left >= 4 && in(byte(1), 0x90, 0xBF) && in(byte(2), 0x80, 0xBF) &&
           in(byte(3), 0x80, 0xBF);
    } else if (in(b0, 0xF1, 0xF3)) {
      n = 4;
      ok = left >= 4 && in(byte(1), 0x80, 0xBF) && in(byte(2), 0x80, 0xBF) &&
           in(byte(3), 0x80, 0xBF);
    } else if (b0 == 0xF4) {
      n = 4;
      ok = left >= 4 && in(byte(1), 0x80, 0x8F) && in(byte(2), 0x80, 0xBF) &&
           in(byte(3), 0x80, 0xBF);
    } else {
      return false;
    }
    if (!ok) return false;
    out->append(s_.substr(i_, n));
    i_ += n;
    return true;
  }

  bool string(std::string* out) {
    ++i_;  // opening quote
    for (;;) {
      const int c = peek();
      if (c < 0) return false;
      if (c == '"') {
        ++i_;
        return true;
      }
      if (c < 0x20) return false;
      if (c >= 0x80) {
        if (!utf8(out)) return false;
        continue;
      }
      ++i_;
      if (c != '\\') {
        *out += static_cast<char>(c);
        continue;
      }
      const int e = peek();
      ++i_;
      switch (e) {
        case '"':
        case '\\':
        case '/':
          *out += static_cast<char>(e);
          break;
        case 'b':
          *out += '\b';
          break;
        case 'f':
          *out += '\f';
          break;
        case 'n':
          *out += '\n';
          break;
        case 'r':
          *out += '\r';
          break;
        case 't':
          *out += '\t';
          break;
        case 'u': {
          unsigned long unit;
          if (!hex4(&unit)) return false;
          // A surrogate pair is one character; a surrogate without its partner is kept
          // as the three bytes of its code point (WTF-8).
          if (unit >= 0xD800 && unit <= 0xDBFF) {
            const std::size_t after_high = i_;
            unsigned long low;
            if (word("\\u") && hex4(&low) && low >= 0xDC00 && low <= 0xDFFF) {
              unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
            } else {
              i_ = after_high;
            }
          }
          put(out, unit);
          break;
        }
        default:
          return false;
      }
    }
  }

  std::string_view s_;
  std::size_t i_ = 0;
  int max_depth_;
  bool too_deep_ = false;
};

bool truthy(const RefValue& v) {
  switch (v.kind) {
    case JsonKind::kAbsent:
    case JsonKind::kNull:
    case JsonKind::kFalse:
      return false;
    case JsonKind::kTrue:
      return true;
    case JsonKind::kNumber: {
      // Zero when no digit of the mantissa is 1 to 9.
      const std::string mantissa = v.text.substr(0, v.text.find_first_of("eE"));
      return mantissa.find_first_of("123456789") != std::string::npos;
    }
    case JsonKind::kString:
      return !v.text.empty();
    case JsonKind::kArray:
    case JsonKind::kObject:
      return !v.items.empty();
  }
  return false;
}

// The member as the hook keeps it: its text only up to `limit` bytes (0: none of it).
JsonField field_of(const RefValue* v, std::size_t limit) {
  JsonField f;
  if (v == nullptr) return f;
  f.kind = v->kind;
  f.truthy = truthy(*v);
  if (limit != 0 && v->kind == JsonKind::kString) {
    f.too_long = v->text.size() > limit;
    if (!f.too_long) f.text = v->text;
  }
  return f;
}

// The last member of that name, as a map built from the members in order would hold.
const RefValue* last_member(const RefValue& object, std::string_view name) {
  const RefValue* found = nullptr;
  for (std::size_t i = 0; i < object.keys.size(); ++i) {
    if (object.keys[i] == name) found = &object.items[i];
  }
  return found;
}

std::string describe(std::string_view what, const JsonField& e, const JsonField& a) {
  if (e.kind == a.kind && e.truthy == a.truthy && e.text == a.text && e.too_long == a.too_long) {
    return "";
  }
  auto show = [](const JsonField& f) {
    return std::string(kind_name(f.kind)) + (f.truthy ? " truthy" : " falsy") +
           (f.too_long ? " too long" : " \"" + f.text + "\"");
  };
  return std::string(what) + ": expected " + show(e) + ", got " + show(a) + "; ";
}

ToolCall reference_call(const RefValue& document, std::string_view name, std::string_view input) {
  ToolCall call;
  call.tool_name = field_of(last_member(document, name), kLongestName);
  const RefValue* tool_input = last_member(document, input);
  call.tool_input = field_of(tool_input, 0);
  if (tool_input != nullptr && tool_input->kind == JsonKind::kObject) {
    const RefValue* command = last_member(*tool_input, "command");
    call.command = field_of(command, kLongestSkillName);
    if (command != nullptr && command->kind == JsonKind::kString) {
      call.shell_command_skill = _resolve_bash_zindle_command(command->text);
    }
    call.skill = field_of(last_member(*tool_input, "skill"), kLongestSkillName);
    call.name = field_of(last_member(*tool_input, "name"), kLongestSkillName);
  }
  return call;
}

std::string describe(std::string_view what, const ToolCall& e, const ToolCall& a) {
  const std::string in = std::string(what) + ".";
  std::string difference = describe(in + "tool_name", e.tool_name, a.tool_name) +
                           describe(in + "tool_input", e.tool_input, a.tool_input) +
                           describe(in + "command", e.command, a.command) +
                           describe(in + "skill", e.skill, a.skill) +
                           describe(in + "name", e.name, a.name);
  if (e.shell_command_skill != a.shell_command_skill) {
    difference += in + "shell command skill differs; ";
  }
  return difference;
}

}  // namespace

RefOutcome reference_parse(std::string_view text, RefValue* document, int max_depth) {
  return RefParser(text, max_depth).document(document);
}

HookEvent reference_event(const RefValue& document) {
  HookEvent event;
  event.kind = document.kind;
  if (document.kind != JsonKind::kObject) return event;
  event.tool = reference_call(document, "tool_name", "tool_input");
  if (last_member(document, "hook_event_name") == nullptr &&
      last_member(document, "tool_name") == nullptr &&
      last_member(document, "tool_input") == nullptr) {
    event.camel_case_tool = reference_call(document, "toolName", "toolArgs");
  }
  const RefValue* mcp_context = last_member(document, "mcp_context");
  event.mcp_context = field_of(mcp_context, 0);
  if (mcp_context != nullptr && mcp_context->kind == JsonKind::kObject) {
    event.mcp_tool_name = field_of(last_member(*mcp_context, "tool_name"), kLongestName);
  }
  event.hook_event_name = field_of(last_member(document, "hook_event_name"), kLongestName);
  event.expansion_type = field_of(last_member(document, "expansion_type"), kLongestName);
  event.command_name = field_of(last_member(document, "command_name"), kLongestSkillName);
  event.command_source = field_of(last_member(document, "command_source"), kLongestName);
  return event;
}

std::string describe_difference(const HookEvent& expected, const HookEvent& actual) {
  std::string difference;
  if (expected.kind != actual.kind) difference += "document kind differs; ";
  difference += describe("tool", expected.tool, actual.tool);
  difference += describe("camel_case_tool", expected.camel_case_tool, actual.camel_case_tool);
  difference += describe("mcp_context", expected.mcp_context, actual.mcp_context);
  difference += describe("mcp_tool_name", expected.mcp_tool_name, actual.mcp_tool_name);
  difference += describe("hook_event_name", expected.hook_event_name, actual.hook_event_name);
  difference += describe("expansion_type", expected.expansion_type, actual.expansion_type);
  difference += describe("command_name", expected.command_name, actual.command_name);
  difference += describe("command_source", expected.command_source, actual.command_source);
  return difference;
}

}  // namespace tallyhook::testing
