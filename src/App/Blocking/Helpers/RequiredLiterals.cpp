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

// Escapes of a letter that stand for one character of a kind, a position or a control
// character: none of them a literal, none reading anything after the letter.
bool isSimpleEscape(char c) {
  return std::string_view("bBdDsSwWhHvVRXAzZGntrfae").find(c) != std::string_view::npos;
}

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
  enum class Kind { kCharacter, kGroup, kOther };
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

  bool more() const { return pos_ < s_.size(); }
  char peek(size_t ahead = 0) const { return pos_ + ahead < s_.size() ? s_[pos_ + ahead] : '\0'; }
  Conditions fail() {
    failed_ = true;
    return {};
  }

  Conditions alternation(int depth) {
    if (depth > kDeepestGroup) return fail();
    std::vector<Conditions> branches;
    branches.push_back(sequence(depth));
    while (!failed_ && more() && peek() == '|') {
      ++pos_;
      branches.push_back(sequence(depth));
    }
    if (failed_) return {};
    if (branches.size() == 1) return std::move(branches.front());
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
    std::string run;  // the characters read since the last thing that wasn't one
    auto endRun = [&] {
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
    return {};
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

  // "[...]", sets nested in it counted. One safe character alone ("[.]") is that literal;
  // anything else is a character of some kind.
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
    return {};
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
      return {};
    }
    if (!isAsciiAlnum(c)) {
      ++pos_;
      // Escaped punctuation is itself; an escaped space or control character is left out.
      if (c > ' ' && c < 0x7f) return character(c);
      return {};
    }
    if (isSimpleEscape(c)) {
      ++pos_;
      return {};
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

int RequiredLiterals::cost(const AnyOf& condition) {
  // Parts of what begins nearly every address, and of the commonest endings of hosts.
  static constexpr std::string_view kCommon[] = {"https://www.", ".com/", ".org/", ".net/"};
  int total = 0;
  for (const std::string& text : condition) {
    const bool common = std::any_of(std::begin(kCommon), std::end(kCommon),
                                    [&](std::string_view c) { return c.find(text) != c.npos; });
    total += common ? 1000 : 64 >> std::min<size_t>(text.size(), 6);
  }
  return total;
}

}  // namespace zelto
