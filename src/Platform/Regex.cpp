#include "Platform/Regex.h"

#include <unicode/regex.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

#include <atomic>
#include <limits>

#include "Platform/Log.h"

namespace zelto {

struct Regex::Compiled {
  std::string source;
  std::unique_ptr<icu::RegexPattern> pattern;
  // Set by the first search that gave up, so that only that one warns.
  std::atomic<bool> warned{false};
};

namespace {

// ICU's strings count in int32_t; anything longer can't be handed to it whole.
constexpr size_t kLongestText = std::numeric_limits<int32_t>::max();

bool isValidUtf8(std::string_view text) {
  const int32_t length = static_cast<int32_t>(text.size());
  for (int32_t i = 0; i < length;) {
    UChar32 c;
    U8_NEXT(text.data(), i, length, c);
    if (c < 0) return false;
  }
  return true;
}

// Why a search stopped, for the warning.
std::string whyItGaveUp(UErrorCode status) {
  switch (status) {
    case U_REGEX_TIME_OUT:
      return "it ran past its time limit";
    case U_REGEX_STACK_OVERFLOW:
      return "it ran out of backtracking stack";
    default:
      return std::string("ICU error ") + u_errorName(status);
  }
}

}  // namespace

Result<Regex> Regex::compile(std::string_view source) {
  if (source.size() > kLongestText) {
    return Status::failure("A regex of " + std::to_string(source.size()) + " bytes is too long");
  }
  const std::string quoted = "Regex \"" + std::string(source) + "\"";
  if (!isValidUtf8(source)) return Status::failure(quoted + " is not valid UTF-8");
  const icu::UnicodeString unicode = icu::UnicodeString::fromUTF8(source);
  UParseError where{};
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::RegexPattern> pattern(
      icu::RegexPattern::compile(unicode, /*flags=*/0, where, status));
  if (U_FAILURE(status) || pattern == nullptr) {
    // ICU counts the place in characters, within its line.
    const std::string line = where.line > 1 ? "line " + std::to_string(where.line) + ", " : "";
    return Status::failure(quoted + " doesn't compile: " + u_errorName(status) + " at " + line +
                           "character " + std::to_string(where.offset));
  }
  auto compiled = std::make_shared<Compiled>();
  compiled->source = std::string(source);
  compiled->pattern = std::move(pattern);
  return Regex(std::move(compiled));
}

bool Regex::isMatch(std::string_view text) const {
  UErrorCode status = U_ZERO_ERROR;
  bool found = false;
  if (text.size() > kLongestText) {
    status = U_INDEX_OUTOFBOUNDS_ERROR;
  } else {
    // The matcher reads the input in place: it must outlive the matcher.
    const icu::UnicodeString input = icu::UnicodeString::fromUTF8(text);
    std::unique_ptr<icu::RegexMatcher> matcher(compiled_->pattern->matcher(input, status));
    if (U_SUCCESS(status) && matcher == nullptr) status = U_MEMORY_ALLOCATION_ERROR;
    if (U_SUCCESS(status)) matcher->setTimeLimit(kTimeLimit, status);
    if (U_SUCCESS(status)) found = matcher->find(status);
  }
  if (U_SUCCESS(status)) return found;
  if (!compiled_->warned.exchange(true)) {
    log::warning("Regex \"{}\" gave up on a URL: {}", compiled_->source,
                 text.size() > kLongestText ? std::string("the URL is too long to search")
                                            : whyItGaveUp(status));
  }
  return false;
}

const std::string& Regex::source() const { return compiled_->source; }

}  // namespace zelto
