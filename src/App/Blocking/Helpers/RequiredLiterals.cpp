#include "App/Blocking/Helpers/RequiredLiterals.h"

#include <algorithm>
#include <cstdint>
#include <optional>

namespace zelto {

namespace {

using Conditions = std::vector<RequiredLiterals::AnyOf>;

// Deeper groups than this and the reader gives up: a hand-written pattern is never nested so.
constexpr int kDeepestGroup = 32;

bool isAsciiAlnum(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// A printable ASCII character that stands for itself outside a set (space and the
// metacharacters aside).
bool isPlainCharacter(char c) {
  if (c <= ' ' || c >= 0x7f) return false;
  return std::string_view("\\^$.|?*+()[]{}").find(c) == std::string_view::npos;
}

// Escapes of a letter that stand for one character of a kind or a control character.
bool isOneCharacterEscape(char c) {
  return std::string_view("dDsSwWhHvVntrfae").find(c) != std::string_view::npos;
}

// Escapes of a letter that stand for a position, a line break ("\r\n" too) or a grapheme.
bool isOtherSimpleEscape(char c) {
  return std::string_view("bBAzZGRX").find(c) != std::string_view::npos;
}

bool isSimpleEscape(char c) { return isOneCharacterEscape(c) || isOtherSimpleEscape(c); }

// The single characters that a one-character set like "[.]" stands for, as a literal.
bool isSafeInSet(char c) {
  return isAsciiAlnum(c) || std::string_view("./:_~%=@,;!").find(c) != std::string_view::npos;
}

// The length of the UTF-8 sequence that begins with `lead` (1 for anything unexpected: the
// reader only needs to step over it).
size_t sequenceLength(unsigned char lead) {
  if (lead >= 0xf0) return 4;
  if (lead >= 0xe0) return 3;
  if (lead >= 0xc0) return 2;
  return 1;
}

// A recursive-descent reading of the source: alternation := sequence ("|" sequence)*;
// sequence := (atom quantifier?)*. Sets `failed_` (and the caller gives up on the whole
// source) at anything it doesn't follow.
class Reader {
 public:
  explicit Reader(std::string_view source) : s_(source) {}

  std::optional<Conditions> read() {
    Conditions conditions = alternation(0);
    if (failed_ || pos_ != s_.size()) return std::nullopt;  // a stray ")"
    return conditions;
  }

 private:
  // A literal character, any one character (of a set, or "."), a group, anything else.
  enum class Kind { kCharacter, kAnyOne, kGroup, kOther };
  struct Atom {
    Kind kind = Kind::kOther;
    char character = 0;
    Conditions conditions;  // of a group
  };

  static Atom character(char c) {
    Atom a;
    a.kind = Kind::kCharacter;
    a.character = c;
    return a;
  }
  static Atom anyOne() {
    Atom a;
    a.kind = Kind::kAnyOne;
    return a;
  }

  bool more() const { return pos_ < s_.size(); }
  char peek(size_t ahead = 0) const { return pos_ + ahead < s_.size() ? s_[pos_ + ahead] : '\0'; }
  Conditions fail() {
    failed_ = true;
    return {};
  }

  Conditions alternation(int depth) {
    if (depth > kDeepestGroup) return fail();
    Conditions first = sequence(depth);
    if (failed_ || !more() || peek() != '|') return first;
    std::vector<Conditions> branches;
    branches.push_back(std::move(first));
    while (!failed_ && more() && peek() == '|') {
      ++pos_;
      branches.push_back(sequence(depth));
    }
    if (failed_) return {};
    // Some branch matches: the cheapest condition of each, together, is one condition. A
    // branch without one (an empty branch, say) leaves nothing to require.
    RequiredLiterals::AnyOf anyOf;
    for (const Conditions& branch : branches) {
      if (branch.empty()) return {};
      const auto& best =
          *std::min_element(branch.begin(), branch.end(), [](const auto& a, const auto& b) {
            return RequiredLiterals::cost(a) < RequiredLiterals::cost(b);
          });
      anyOf.insert(anyOf.end(), best.begin(), best.end());
    }
    std::sort(anyOf.begin(), anyOf.end());
    anyOf.erase(std::unique(anyOf.begin(), anyOf.end()), anyOf.end());
    return {std::move(anyOf)};
  }

  Conditions sequence(int depth) {
    Conditions out;
    out.reserve(4);
    // The characters read since the last thing that wasn't one, with a gap for each "any
    // one character" between them.
    std::string run;
    auto endRun = [&] {
      while (!run.empty() && run.back() == RequiredLiterals::kGap) run.pop_back();
      if (!run.empty()) out.push_back({std::move(run)});
      run.clear();
    };
    while (!failed_ && more() && peek() != '|' && peek() != ')') {
      Atom a = atom(depth);
      if (failed_) return {};
      const bool quantified = quantifier();
      if (failed_) return {};
      if (a.kind == Kind::kCharacter && !quantified) {
        run.push_back(a.character);
        continue;
      }
      if (a.kind == Kind::kAnyOne && !quantified) {
        if (!run.empty()) run.push_back(RequiredLiterals::kGap);
        continue;
      }
      endRun();
      // A group that may be left out, or repeated (its text isn't contiguous with what
      // surrounds it either way), is simply passed over.
      if (a.kind == Kind::kGroup && !quantified) {
        for (auto& condition : a.conditions) out.push_back(std::move(condition));
      }
    }
    endRun();
    return out;
  }

  // Steps over a quantifier after an atom ("*", "+", "?", "{...}", each maybe followed by the
  // lazy "?" or possessive "+"); false when there is none.
  bool quantifier() {
    const char c = peek();
    if (c == '{') {
      // "{n}", "{n,}" or "{n,m}"; anything else isn't followed.
      size_t at = pos_ + 1;
      auto digits = [&] {
        const size_t from = at;
        while (at < s_.size() && s_[at] >= '0' && s_[at] <= '9') ++at;
        return at > from;
      };
      if (!digits()) {
        failed_ = true;
        return false;
      }
      if (at < s_.size() && s_[at] == ',') {
        ++at;
        digits();
      }
      if (at >= s_.size() || s_[at] != '}') {
        failed_ = true;
        return false;
      }
      pos_ = at + 1;
    } else if (c == '*' || c == '+' || c == '?') {
      ++pos_;
    } else {
      return false;
    }
    if (peek() == '?' || peek() == '+') ++pos_;
    return true;
  }

  Atom atom(int depth) {
    const char c = peek();
    switch (c) {
      case '(':
        return group(depth);
      case '[':
        return set();
      case '\\':
        return escape();
      case '.':
        ++pos_;
        return anyOne();
      case '^':
      case '$':
        ++pos_;
        return {};
      case '*':
      case '+':
      case '?':
      case '{':
        // A quantifier with nothing to repeat: an error to ICU, or nothing this follows.
        fail();
        return {};
      default:
        break;
    }
    if (isPlainCharacter(c)) {
      ++pos_;
      return character(c);
    }
    pos_ += sequenceLength(static_cast<unsigned char>(c));
    // "]" and "}" aside, the rest stand for themselves: a space, a control character, a
    // non-ASCII one.
    return c == ']' || c == '}' ? Atom{} : anyOne();
  }

  Atom group(int depth) {
    ++pos_;  // "("
    bool lookaround = false;
    if (peek() == '?') {
      const char kind = peek(1);
      const char next = peek(2);
      if (kind == ':' || kind == '>') {
        pos_ += 2;
      } else if (kind == '=' || kind == '!') {
        pos_ += 2;
        lookaround = true;
      } else if (kind == '<' && (next == '=' || next == '!')) {
        pos_ += 3;
        lookaround = true;
      } else {
        fail();  // inline flags, named groups, comments
        return {};
      }
    }
    Conditions inner = alternation(depth + 1);
    if (failed_) return {};
    if (peek() != ')') {
      fail();
      return {};
    }
    ++pos_;
    // What a lookaround looks at may lie outside the match, or must be absent.
    if (lookaround) inner.clear();
    Atom a;
    a.kind = Kind::kGroup;
    a.conditions = std::move(inner);
    return a;
  }

  // "[...]", sets nested in it counted: one character of the set. One safe character alone
  // ("[.]") is that literal.
  Atom set() {
    const size_t start = pos_++;
    if (peek() == '^') ++pos_;
    if (peek() == ']') {
      fail();  // "[]...]": not worth getting right
      return {};
    }
    for (int open = 1; open > 0;) {
      if (!more()) {
        fail();
        return {};
      }
      const char c = s_[pos_];
      if (c == '\\') {
        // An escaped punctuation character or a simple class; anything longer ("\p{...}",
        // "\x{...}", "\N{...}") isn't followed.
        const char escaped = peek(1);
        if (escaped == '\0' || (isAsciiAlnum(escaped) && !isSimpleEscape(escaped))) {
          fail();
          return {};
        }
        pos_ += 2;
        continue;
      }
      if (c == '{' || c == '}') {
        fail();  // strings in a set
        return {};
      }
      if (c == '[') ++open;
      if (c == ']') --open;
      ++pos_;
    }
    const std::string_view whole = s_.substr(start, pos_ - start);
    if (whole.size() == 3 && isSafeInSet(whole[1])) {
      return character(whole[1]);
    }
    return anyOne();
  }

  Atom escape() {
    ++pos_;  // "\"
    if (!more()) {
      fail();
      return {};
    }
    const char c = s_[pos_];
    if (static_cast<unsigned char>(c) >= 0x80) {
      pos_ += sequenceLength(static_cast<unsigned char>(c));
      return anyOne();
    }
    if (!isAsciiAlnum(c)) {
      ++pos_;
      // Escaped punctuation is itself; an escaped space or control character isn't a literal.
      if (c > ' ' && c < 0x7f) return character(c);
      return anyOne();
    }
    if (isSimpleEscape(c)) {
      ++pos_;
      return isOneCharacterEscape(c) ? anyOne() : Atom{};
    }
    if (c >= '1' && c <= '9') {  // a back reference
      while (more() && s_[pos_] >= '0' && s_[pos_] <= '9') ++pos_;
      return {};
    }
    fail();  // "\Q", "\E", "\x", "\u", "\N", "\p", "\c", "\0", "\k" and the unknown ones
    return {};
  }

  std::string_view s_;
  size_t pos_ = 0;
  bool failed_ = false;
};

}  // namespace

std::vector<RequiredLiterals::AnyOf> RequiredLiterals::of(std::string_view source) {
  std::optional<Conditions> conditions = Reader(source).read();
  return conditions ? std::move(*conditions) : Conditions{};
}

bool RequiredLiterals::isIn(std::string_view literal, std::string_view text) {
  const std::string_view head = literal.substr(0, literal.find(kGap));
  for (size_t at = text.find(head); at != std::string_view::npos; at = text.find(head, at + 1)) {
    if (isAt(literal, text, 0, at)) return true;
  }
  return false;
}

bool RequiredLiterals::isAt(std::string_view literal, std::string_view text, size_t from,
                            size_t at) {
  // Forward from there, a gap stepping over one character by its first byte...
  size_t pos = at;
  for (size_t i = from; i < literal.size();) {
    if (pos >= text.size()) return false;
    if (literal[i] == kGap) {
      pos += sequenceLength(static_cast<unsigned char>(text[pos]));
      ++i;
      continue;
    }
    const size_t end = std::min(literal.find(kGap, i), literal.size());
    if (!text.substr(pos).starts_with(literal.substr(i, end - i))) return false;
    pos += end - i;
    i = end;
  }
  // ... and back from there, a gap stepping back over the continuation bytes to a first byte.
  pos = at;
  for (size_t i = from; i > 0;) {
    if (literal[i - 1] == kGap) {
      if (pos == 0) return false;
      do {
        --pos;
      } while (pos > 0 && (static_cast<unsigned char>(text[pos]) & 0xc0) == 0x80);
      --i;
      continue;
    }
    const size_t gap = literal.rfind(kGap, i - 1);
    const size_t begin = gap == std::string_view::npos ? 0 : gap + 1;
    if (pos < i - begin ||
        text.substr(pos - (i - begin), i - begin) != literal.substr(begin, i - begin)) {
      return false;
    }
    pos -= i - begin;
    i = begin;
  }
  return true;
}

int RequiredLiterals::cost(const AnyOf& condition) {
  int total = 0;
  for (const std::string& text : condition) total += cost(text);
  return total;
}

int RequiredLiterals::cost(std::string_view text) {
  // Parts of what begins nearly every address, and of the commonest endings of hosts.
  static constexpr std::string_view kCommon[] = {"https://www.", ".com/", ".org/", ".net/"};
  if (std::any_of(std::begin(kCommon), std::end(kCommon),
                  [&](std::string_view c) { return c.find(text) != c.npos; })) {
    return 1000;
  }
  // The longest part without a gap counts most (an index looks for that), then the rest.
  size_t longest = 0;
  for (size_t begin = 0; begin < text.size();) {
    const size_t end = std::min(text.find(kGap, begin), text.size());
    longest = std::max(longest, end - begin);
    begin = end + 1;
  }
  const bool more = longest + 1 < text.size();
  return (64 >> std::min<size_t>(longest, 6)) * 2 - (more ? 1 : 0);
}

}  // namespace zelto
