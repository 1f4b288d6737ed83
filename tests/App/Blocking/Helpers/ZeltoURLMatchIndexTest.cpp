#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "App/Blocking/Helpers/RequiredLiterals.h"
#include "App/Blocking/Helpers/ZeltoURLMatcherManager.h"
#include "App/Data/Preferences/ZeltoPreferences.h"
#include "Support/SeededRandom.h"

namespace zelto {
namespace {

using Random = testing::SeededRandom;

// Site patterns and URLs drawn from one vocabulary, so that they meet often: hits, near
// misses, and every kind of pattern deciding some. Most words are made of two syllables; a few
// are awkward ones (parts of "https://www.", one letter, non-ASCII, the special sites).
class Corpus {
 public:
  explicit Corpus(uint64_t seed) : random_(seed) {}

  std::string word() {
    static const std::vector<std::string> kSyllables = {"ka", "to", "mi", "re", "su", "no",
                                                        "la", "vi", "ze", "po", "da", "qu"};
    if (random_.percent(20)) return random_.pick(kOddWords);
    return random_.pick(kSyllables) + random_.pick(kSyllables);
  }
  // One of four bytes or more, for expressions that shouldn't match nearly everything.
  std::string longWord() {
    for (;;) {
      if (std::string out = word(); out.size() >= 4) return out;
    }
  }

  // Words joined by dots, now and then by nothing or by a character of two or three bytes.
  std::string host() {
    static const std::vector<std::string> kJoints = {".", ".", ".", ".", ".", "", "ü", "日"};
    std::string out = word();
    if (random_.percent(60)) out += random_.pick(kJoints) + word();
    if (random_.percent(80)) out += "." + random_.pick(kTlds);
    return out;
  }
  std::string path() {
    std::string out;
    for (size_t i = random_.below(3); i > 0; --i) out += "/" + word();
    return out;
  }

  std::string plain() {
    static const std::vector<std::string> kSchemes = {"",         "",     "",          "http://",
                                                      "https://", "www.", "chrome://", "ftp://"};
    std::string out = host();
    if (random_.percent(4)) out = out.substr(0, random_.below(out.size()) + 1);  // cut anywhere
    out = random_.pick(kSchemes) + out;
    if (random_.percent(30)) out += path();
    if (random_.percent(25)) out += "/";  // exact
    return out;
  }

  std::string wildcard() {
    switch (random_.below(7)) {
      case 0:
        return "*." + host();
      case 1:
        return host() + "/*";
      case 2:
        return "*" + longWord() + "*";
      case 3:
        return host() + "*" + longWord();
      case 4:
        return longWord() + "?" + longWord() + "*";  // "?" is literal
      case 5:
        return "*(" + longWord() + ")*";
      default:
        return "http://*." + host() + "/";
    }
  }

  std::string regex() {
    const std::string w = longWord();
    const std::string v = longWord();
    if (random_.percent(30)) {
      // Two words and something optional or repeated between them; URLs join the same two
      // words in the ways it allows, and in others.
      static const std::vector<std::string> kJunctions = {"s?",  "x*",        ".?",   "/+",
                                                          "s??", "(www\\.)?", "[.]?", "-{0,2}"};
      pairs_.emplace_back(w, v);
      return "/" + w + random_.pick(kJunctions) + v + "/";
    }
    if (random_.percent(5)) {
      pairs_.emplace_back(w, v);
      return "/(?i)" + w + v + "/";  // "s" matches the long s too
    }
    const std::vector<std::string> forms = {
        w + "\\." + v,
        w + "." + v,
        w + "[^/]" + v,
        w + "\\w." + v,
        "^https?://(www\\.)?" + w + "[.]" + random_.pick(kTlds) + "/",
        "(" + w + "|" + v + ")\\.",
        w + "|" + v,
        "(" + w + ")?" + v,
        w + "+" + v,
        w + "*" + v,
        w + "{2}" + v,
        w + "{0,3}" + v,
        w + "+?" + v,
        "[a-z]+" + w,
        "[^/]" + w + "[.]",
        "\\d" + w + "\\w",
        w + "(?!" + v + ")",
        "(?=" + w + ")" + v,
        "(?<=" + w + ")" + v,
        "(?i)" + w,
        "\\Q" + w + "\\E",
        "(" + w + ")\\1",
        w + "\\/" + v + "\\?",
        w + "$",
        "(?:" + w + "|" + v + "(x|))y",
        "\\x41" + w,
        static_cast<unsigned char>(w[0]) < 0x80 ? "[" + w.substr(0, 1) + "]" + w.substr(1) : w,
        "(" + w,
        "[" + w,
        ""};
    return "/" + random_.pick(forms) + "/";
  }

  std::string pattern() {
    std::string out;
    const size_t kind = random_.below(100);
    if (kind < 55) {
      out = plain();
    } else if (kind < 75) {
      out = wildcard();
    } else if (kind < 95) {
      out = regex();
    } else {
      out = random_.pick(std::vector<std::string>{"facebook.com", "imgur.com", " news.com"});
    }
    if (random_.percent(6)) out = (random_.percent(50) ? "+" : "-") + out;
    if (random_.percent(10)) out = shout(out);
    return out;
  }

  std::string url() {
    if (random_.percent(3)) {
      return random_.pick(std::vector<std::string>{
          "http://localhost:8919/block/?zelto_url=https%3A%2F%2Fnews.com%2F",
          "HTTP://LOCALHOST:1/BLOCK/?ZELTO_URL=x", "http://localhost/block/?zelto_url=",
          "http://localhost:8919/block/", "http://localhost@news.com/?/block/?zelto_url=x",
          "chrome://settings", "quarnix.com/help"});
    }
    static const std::vector<std::string> kSchemes = {
        "http://", "https://", "http://www.", "https://www.", "", "ftp://", "chrome://"};
    std::string out = random_.pick(kSchemes);
    if (random_.percent(5)) out += "user:pw@";
    // Mostly the vocabulary's sites, some the two words of an expression with something or
    // nothing between them, some that no pattern names.
    static const std::vector<std::string> kBetween = {"",   "s", "ss",   "x", "xx", ".",
                                                      "..", "/", "www.", "-", "--", "ü"};
    if (random_.percent(20) && !pairs_.empty()) {
      const auto& [w, v] = random_.pick(pairs_);
      out += w + random_.pick(kBetween) + v + "." + random_.pick(kTlds);
      if (random_.percent(30)) out = longS(out);
    } else {
      out += random_.percent(15) ? "zz" + std::to_string(random_.below(1000)) + ".com" : host();
    }
    if (random_.percent(10)) out += ":" + std::to_string(random_.below(70000));
    out += path();
    if (random_.percent(50)) out += "/";
    if (random_.percent(15)) out += "?q=" + word();
    if (random_.percent(10)) out += "#" + word();
    if (random_.percent(10)) {  // a near miss
      const size_t at = random_.below(out.size());
      out[at] = random_.percent(50) ? 'x' : '.';
    }
    if (random_.percent(10)) out = shout(out);
    if (random_.percent(5)) out = longS(out);
    return out;
  }

 private:
  // Every "s" as the long s: lower case already, yet an "s" to "(?i)".
  static std::string longS(std::string text) {
    for (size_t at = text.find('s'); at != std::string::npos; at = text.find('s', at))
      text.replace(at, 1, "\u017f");
    return text;
  }

  // Some ASCII letters in upper case, and "ü" as "Ü".
  std::string shout(std::string text) {
    for (char& c : text) {
      if (c >= 'a' && c <= 'z' && random_.percent(50)) c = static_cast<char>(c - 'a' + 'A');
    }
    for (size_t at = text.find("\xc3\xbc"); at != std::string::npos; at = text.find("\xc3\xbc"))
      text[at + 1] = '\x9c';
    return text;
  }

  // "İ" is one byte longer in lower case, the Kelvin sign ("\342\204\252") is "k" and "\377"
  // isn't UTF-8.
  inline static const std::vector<std::string> kOddWords = {
      "news",    "www",        "http",   "a",      "ab",
      "x1",      "com",        "login",  "dialog", "v2.2",
      "güte",    "日本",       "ßtraße", "i",      "\342\204\252ato",
      "quarnix", "localhost",  "block",  "imgur",  "facebook",
      "İzmir",   "bad\377byte"};
  inline static const std::vector<std::string> kTlds = {"com", "org", "net", "de", "co.uk"};

  Random random_;
  std::vector<std::pair<std::string, std::string>> pairs_;  // the words of each expression
};

// The decisions of the index and of the walk agree for every URL: blocked, rank and the
// matcher itself. Several lists (one with "+" or "-" alone among them), in both modes.
TEST(ZeltoURLMatchIndexTest, DecidesAsTheWalkOnGeneratedListsAndURLs) {
  Corpus corpus(20240611);
  std::vector<std::string> patterns;
  for (int i = 0; i < 2500; ++i) patterns.push_back(corpus.pattern());
  std::vector<std::string> urls;
  for (int i = 0; i < 2500; ++i) urls.push_back(corpus.url());

  struct Run {
    bool allowList;
    // Put in the middle of the list: patterns that match every address, or every one with
    // some beginning, and plain ones that stop inside "http://", "https://" or "www.".
    std::vector<std::string> extra;
    size_t urls;
  };
  std::map<int, int> ranks;
  int byRegex = 0;
  for (const Run& run :
       {Run{false, {}, 2500}, Run{true, {}, 2500},
        Run{false, {"h", "-ww", "+/news|/", "https:/", "*", "+", "-http:", "w", "/[ab]/"}, 1000},
        Run{true, {"http://ww", "+https://www", "-/a|/", "www", "+w", "-/\\w/", "-"}, 1000}}) {
    ZeltoPreferences prefs;
    prefs.profiles.emplace_back();
    ProfileZeltoPreferences& profile = prefs.profiles.front();
    profile.enableWhitelistWebsites = run.allowList;
    std::vector<std::string> list = patterns;
    list.insert(list.begin() + 1250, run.extra.begin(), run.extra.end());
    (run.allowList ? profile.whitelistedWebsites : profile.blockedWebsites) = list;
    NotificationCenter center;
    ZeltoURLMatcherManager manager([&] { return &prefs; }, center);
    manager.setup();

    int mismatches = 0;
    for (size_t i = 0; i < run.urls; ++i) {
      const std::string& url = urls[i];
      const auto indexed = manager.decide(url);
      const auto walked = manager.decideByWalking(url);
      ++ranks[walked.rank];
      byRegex += walked.matcher != nullptr && walked.matcher->isRegex();
      if (indexed.blocked == walked.blocked && indexed.rank == walked.rank &&
          indexed.matcher == walked.matcher) {
        continue;
      }
      auto describe = [](const ZeltoURLMatcherManager::Decision& d) {
        return std::to_string(d.blocked) + " " + std::to_string(d.rank) + " " +
               (d.matcher ? "\"" + d.matcher->originalPattern() + "\"" : "-");
      };
      if (++mismatches <= 10) {
        ADD_FAILURE() << (run.allowList ? "allow-list " : "block-list ") << run.extra.size()
                      << " extra, " << url << ": index " << describe(indexed) << ", walk "
                      << describe(walked);
      }
    }
    EXPECT_EQ(mismatches, 0);
  }
  // The corpus reaches every rank, and expressions decide a fair share.
  for (int rank = 1; rank <= 5; ++rank) EXPECT_GT(ranks[rank], 200) << rank;
  EXPECT_GT(byRegex, 2000);
}

using Conditions = std::vector<RequiredLiterals::AnyOf>;

// The conditions with each "_" in their texts made a gap.
Conditions gapped(Conditions conditions) {
  for (auto& anyOf : conditions) {
    for (std::string& text : anyOf)
      std::replace(text.begin(), text.end(), '_', RequiredLiterals::kGap);
  }
  return conditions;
}

// Only what every match must contain, and nothing from a source it doesn't follow in full.
TEST(RequiredLiteralsTest, ClaimsOnlyTextsEveryMatchContains) {
  const std::vector<std::pair<std::string, Conditions>> cases = {
      {"news\\.com\\/a\\?", {{"news.com/a?"}}},
      // What stands for any one character is a gap; a set of one safe character is that
      // character.
      {"https?://(www\\.)?news[.]com/", {{"http"}, {"://"}, {"news.com/"}}},
      {"a.b[a-z]c[^.]d\\de\\sf..", {{"a_b_c_d_e_f"}}},
      {"gü\\ t\\é.\\n", {{"g__t"}}},
      // Positions, line breaks and back references end a text.
      {"a\\bb\\rc\\Rd^e$f(g)\\1h", {{"a"}, {"b_c"}, {"d"}, {"e"}, {"f"}, {"g"}, {"h"}}},
      // A quantified character or group is left out, whatever the quantifier.
      {"ab+c", {{"a"}, {"c"}}},
      {"abc?d", {{"ab"}, {"d"}}},
      {"ab{2}c|", {}},
      {"ab{0,3}?c", {{"a"}, {"c"}}},
      {"(news)?mail(x)*(y)+", {{"mail"}}},
      // Alternation: one of the branches' texts; an empty branch needs nothing.
      {"(news|mail)\\.com", {{"mail", "news"}, {".com"}}},
      {"news|mail", {{"mail", "news"}}},
      {"(a|b|)c", {{"c"}}},
      {"(?:x(y|z)|w)v", {{"w", "x"}, {"v"}}},  // the cheaper of "x" and "y" or "z"
      // Lookarounds say nothing.
      {"x(?!news)y(?=z)(?<=x)(?<!q)", {{"x"}, {"y"}}},
      // Sources it doesn't follow in full.
      {"(?i)news", {}},
      {"\\qnews\\e", {}},
      {"\\x41news", {}},
      {"\\p{l}news", {}},
      {"(?<n>news)", {}},
      {"[{ab}]news", {}},
      {"a{x}news", {}},
      {"*news", {}},
      {"(news", {}},
      {"news)", {}},
      {"[news", {}},
      {std::string(40, '(') + "news" + std::string(40, ')'), {}},
  };
  for (const auto& [source, expected] : cases) {
    EXPECT_EQ(RequiredLiterals::of(source), gapped(expected)) << source;
  }
}

TEST(RequiredLiteralsTest, AGapIsOneCharacterOfOneToFourBytes) {
  const std::string literal = gapped({{"a_b"}})[0][0];
  for (std::string_view text : {"axb", "xxaüb", "a日b", "a\U0001F600b", "ab axb"}) {
    EXPECT_TRUE(RequiredLiterals::isIn(literal, text)) << text;
    // Anchored at its "b": a step back over the gap.
    EXPECT_TRUE(RequiredLiterals::isAt(literal, text, 2, text.rfind('b'))) << text;
  }
  for (std::string_view text : {"ab", "axxb", "aüüb", "a", "xb"}) {
    EXPECT_FALSE(RequiredLiterals::isIn(literal, text)) << text;
    if (text.size() > 1) {
      EXPECT_FALSE(RequiredLiterals::isAt(literal, text, 2, text.rfind('b'))) << text;
    }
  }
}

}  // namespace
}  // namespace zelto
