#include "App/Blocking/Helpers/ZeltoURLMatchIndex.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <optional>
#include <unordered_map>
#include <utility>

#include "App/Blocking/Helpers/RequiredLiterals.h"

namespace zelto {

namespace {

constexpr std::string_view kHttp = "http://";
constexpr std::string_view kHttps = "https://";
constexpr std::string_view kWww = "www.";
constexpr uint32_t kPieceLength = 4;
constexpr int kFilterBits = 18;

// `text` less the "http://" or "https://" it begins with, and then less a "www.".
std::string_view hostAndRest(std::string_view text) {
  if (text.starts_with(kHttp)) {
    text.remove_prefix(kHttp.size());
  } else if (text.starts_with(kHttps)) {
    text.remove_prefix(kHttps.size());
  }
  if (text.starts_with(kWww)) text.remove_prefix(kWww.size());
  return text;
}

// The key of a plain prefix: hostAndRest of it, when it holds whole whatever of "http://" or
// "https://" and "www." a URL beginning with it begins with. A URL begins with such a prefix
// only if the URL's hostAndRest begins with the prefix's. Nothing for a prefix that stops
// inside one of them ("http:/", "https://ww").
std::optional<std::string_view> prefixKey(std::string_view prefix) {
  if (prefix.starts_with(kHttp)) {
    prefix.remove_prefix(kHttp.size());
  } else if (prefix.starts_with(kHttps)) {
    prefix.remove_prefix(kHttps.size());
  } else if (kHttp.starts_with(prefix) || kHttps.starts_with(prefix)) {
    return std::nullopt;
  }
  if (prefix.starts_with(kWww)) {
    prefix.remove_prefix(kWww.size());
  } else if (kWww.starts_with(prefix)) {
    return std::nullopt;
  }
  return prefix;
}

uint32_t rankOf(const ZeltoURLMatcher& matcher) {
  if (matcher.priority()) return matcher.isWhitelisted() ? 1 : 2;
  return matcher.isWhitelisted() ? 3 : 4;
}

// Up to four bytes and their count, as one key (never 0).
uint64_t pieceKey(const char* bytes, uint32_t length) {
  uint32_t value = 0;
  std::memcpy(&value, bytes, length);
  return (uint64_t{length} << 32) | value;
}

uint64_t mix(uint64_t key) {
  key ^= key >> 30;
  key *= 0xbf58476d1ce4e5b9ULL;
  key ^= key >> 27;
  key *= 0x94d049bb133111ebULL;
  return key ^ (key >> 31);
}

size_t filterBit(uint64_t hash) { return hash >> (64 - kFilterBits); }

// Sorted (index, value) pairs as the begin offsets and values of one list per index.
void groupByFirst(std::vector<std::pair<uint32_t, uint32_t>>& pairs, size_t count,
                  std::vector<uint32_t>& begin, std::vector<uint32_t>& values) {
  std::sort(pairs.begin(), pairs.end());
  pairs.erase(std::unique(pairs.begin(), pairs.end()), pairs.end());
  begin.assign(count + 1, 0);
  values.clear();
  values.reserve(pairs.size());
  for (const auto& [index, value] : pairs) {
    ++begin[index + 1];
    values.push_back(value);
  }
  for (size_t i = 0; i < count; ++i) begin[i + 1] += begin[i];
}

}  // namespace

ZeltoURLMatchIndex::ZeltoURLMatchIndex(const std::vector<ZeltoURLMatcher>& matchers) {
  const auto count = static_cast<uint32_t>(matchers.size());
  rank_.resize(count);

  std::vector<std::pair<std::string_view, uint32_t>> prefixKeys;
  std::unordered_map<std::string, uint32_t> literalIds;
  auto literalId = [&](const std::string& text) {
    auto [at, added] = literalIds.try_emplace(text, static_cast<uint32_t>(literalIds.size()));
    if (added) {
      literalText_ += text;
      literalBegin_.push_back(static_cast<uint32_t>(literalText_.size()));
    }
    return at->second;
  };
  std::vector<std::pair<uint32_t, uint32_t>> triggers;  // (text, matcher)
  conditionsOf_.assign(count + 1, 0);

  for (uint32_t i = 0; i < count; ++i) {
    const ZeltoURLMatcher& matcher = matchers[i];
    rank_[i] = static_cast<uint8_t>(rankOf(matcher));
    conditionsOf_[i] = static_cast<uint32_t>(conditionBegin_.size() - 1);
    if (!matcher.isRegex()) {
      const size_t first = prefixKeys.size();
      for (const std::string& prefix : matcher.patterns()) {
        if (prefix.empty()) continue;  // never taken
        std::optional<std::string_view> key = prefixKey(prefix);
        if (!key) {
          prefixKeys.resize(first);
          always_.push_back(i);
          break;
        }
        prefixKeys.emplace_back(*key, i);
      }
      continue;
    }
    if (matcher.regexSource().empty()) continue;  // never compiles: never matches
    std::vector<RequiredLiterals::AnyOf> conditions = RequiredLiterals::of(matcher.regexSource());
    if (conditions.empty()) {
      always_.push_back(i);
      continue;
    }
    const auto trigger =
        std::min_element(conditions.begin(), conditions.end(), [](const auto& a, const auto& b) {
          return RequiredLiterals::cost(a) < RequiredLiterals::cost(b);
        });
    for (const std::string& text : *trigger) triggers.emplace_back(literalId(text), i);
    for (const auto& condition : conditions) {
      for (const std::string& text : condition) conditionLiterals_.push_back(literalId(text));
      conditionBegin_.push_back(static_cast<uint32_t>(conditionLiterals_.size()));
    }
  }
  conditionsOf_[count] = static_cast<uint32_t>(conditionBegin_.size() - 1);

  // The prefix table.
  std::sort(prefixKeys.begin(), prefixKeys.end());
  prefixKeys.erase(std::unique(prefixKeys.begin(), prefixKeys.end()), prefixKeys.end());
  std::vector<int32_t> chain;  // the keys that begin the current one, longest last
  for (size_t i = 0; i < prefixKeys.size();) {
    const std::string_view text = prefixKeys[i].first;
    const auto id = static_cast<int32_t>(keyParent_.size());
    keyText_ += text;
    keyBegin_.push_back(static_cast<uint32_t>(keyText_.size()));
    for (; i < prefixKeys.size() && prefixKeys[i].first == text; ++i) {
      keyMatchers_.push_back(prefixKeys[i].second);
    }
    keyMatchersBegin_.push_back(static_cast<uint32_t>(keyMatchers_.size()));
    while (!chain.empty() && !text.starts_with(key(static_cast<size_t>(chain.back())))) {
      chain.pop_back();
    }
    keyParent_.push_back(chain.empty() ? -1 : chain.back());
    chain.push_back(id);
  }

  // The trigger texts, and a piece of each: the whole of a short one, else its rarest piece.
  const auto literalCount = static_cast<uint32_t>(literalIds.size());
  groupByFirst(triggers, literalCount, literalMatchersBegin_, literalMatchers_);
  std::unordered_map<uint64_t, uint32_t> seen;
  for (uint32_t l = 0; l < literalCount; ++l) {
    const std::string_view text = literal(l);
    if (literalMatchersBegin_[l] == literalMatchersBegin_[l + 1]) continue;
    for (size_t at = 0; at + kPieceLength <= text.size(); ++at) {
      ++seen[pieceKey(text.data() + at, kPieceLength)];
    }
  }
  std::vector<std::pair<uint64_t, Piece>> keyed;
  for (uint32_t l = 0; l < literalCount; ++l) {
    const std::string_view text = literal(l);
    if (literalMatchersBegin_[l] == literalMatchersBegin_[l + 1]) continue;
    if (text.size() < kPieceLength) {
      keyed.push_back({pieceKey(text.data(), static_cast<uint32_t>(text.size())), {l, 0}});
      continue;
    }
    uint32_t best = 0;
    uint32_t fewest = UINT32_MAX;
    for (uint32_t at = 0; at + kPieceLength <= text.size(); ++at) {
      const uint32_t n = seen[pieceKey(text.data() + at, kPieceLength)];
      if (n < fewest) {
        fewest = n;
        best = at;
      }
    }
    keyed.push_back({pieceKey(text.data() + best, kPieceLength), {l, best}});
  }
  std::sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) {
    return a.first != b.first ? a.first < b.first : a.second.literal < b.second.literal;
  });

  size_t distinct = 0;
  for (size_t i = 0; i < keyed.size(); ++i)
    distinct += i == 0 || keyed[i].first != keyed[i - 1].first;
  slots_.assign(std::bit_ceil(std::max<size_t>(16, distinct * 2)), Slot{});
  slotMask_ = slots_.size() - 1;
  filter_.assign((size_t{1} << kFilterBits) / 64, 0);
  pieces_.reserve(keyed.size());
  uint32_t lengths = 0;
  for (size_t i = 0; i < keyed.size();) {
    const uint64_t k = keyed[i].first;
    Slot slot{.key = k, .begin = static_cast<uint32_t>(pieces_.size())};
    for (; i < keyed.size() && keyed[i].first == k; ++i) pieces_.push_back(keyed[i].second);
    slot.end = static_cast<uint32_t>(pieces_.size());
    const uint64_t hash = mix(k);
    size_t at = hash & slotMask_;
    while (slots_[at].key != 0) at = (at + 1) & slotMask_;
    slots_[at] = slot;
    filter_[filterBit(hash) / 64] |= uint64_t{1} << (filterBit(hash) % 64);
    lengths |= 1u << (k >> 32);
  }
  for (uint32_t length = 1; length <= kPieceLength; ++length) {
    if (lengths & (1u << length)) pieceLengths_.push_back(length);
  }
}

void ZeltoURLMatchIndex::candidates(std::string_view url, std::vector<Candidate>& out) const {
  out.clear();
  for (uint32_t i : always_) out.push_back({rank_[i], i});
  addPrefixCandidates(url, out);
  addLiteralCandidates(url, out);
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());
}

void ZeltoURLMatchIndex::addPrefixCandidates(std::string_view url,
                                             std::vector<Candidate>& out) const {
  const std::string_view rest = hostAndRest(url);
  // The last key not after `rest`. Every key that begins `rest` begins that one too (a key
  // between the two would differ from `rest` before its end), so they are on its chain.
  size_t low = 0;
  size_t high = keyParent_.size();
  while (low < high) {
    const size_t middle = low + (high - low) / 2;
    if (key(middle) <= rest) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  if (low == 0) return;
  int32_t k = static_cast<int32_t>(low - 1);
  const std::string_view last = key(static_cast<size_t>(k));
  const size_t common =
      std::mismatch(last.begin(), last.end(), rest.begin(), rest.end()).first - last.begin();
  while (k >= 0 && key(static_cast<size_t>(k)).size() > common) k = keyParent_[k];
  for (; k >= 0; k = keyParent_[k]) {
    for (uint32_t m = keyMatchersBegin_[k]; m < keyMatchersBegin_[k + 1]; ++m) {
      const uint32_t matcher = keyMatchers_[m];
      out.push_back({rank_[matcher], matcher});
    }
  }
}

const ZeltoURLMatchIndex::Slot* ZeltoURLMatchIndex::findSlot(uint64_t key) const {
  const uint64_t hash = mix(key);
  const size_t bit = filterBit(hash);
  if ((filter_[bit / 64] & (uint64_t{1} << (bit % 64))) == 0) return nullptr;
  for (size_t at = hash & slotMask_;; at = (at + 1) & slotMask_) {
    const Slot& slot = slots_[at];
    if (slot.key == key) return &slot;
    if (slot.key == 0) return nullptr;
  }
}

void ZeltoURLMatchIndex::addLiteralCandidates(std::string_view url,
                                              std::vector<Candidate>& out) const {
  if (pieces_.empty()) return;
  for (size_t at = 0; at < url.size(); ++at) {
    for (uint32_t length : pieceLengths_) {
      if (at + length > url.size()) break;
      const Slot* slot = findSlot(pieceKey(url.data() + at, length));
      if (slot == nullptr) continue;
      for (uint32_t p = slot->begin; p < slot->end; ++p) {
        const Piece& piece = pieces_[p];
        const std::string_view text = literal(piece.literal);
        if (at < piece.offset || at - piece.offset + text.size() > url.size() ||
            url.substr(at - piece.offset, text.size()) != text) {
          continue;
        }
        for (uint32_t m = literalMatchersBegin_[piece.literal];
             m < literalMatchersBegin_[piece.literal + 1]; ++m) {
          const uint32_t matcher = literalMatchers_[m];
          if (conditionsHold(matcher, url)) out.push_back({rank_[matcher], matcher});
        }
      }
    }
  }
}

bool ZeltoURLMatchIndex::conditionsHold(uint32_t matcher, std::string_view url) const {
  for (uint32_t c = conditionsOf_[matcher]; c < conditionsOf_[matcher + 1]; ++c) {
    bool holds = false;
    for (uint32_t t = conditionBegin_[c]; t < conditionBegin_[c + 1] && !holds; ++t) {
      holds = url.find(literal(conditionLiterals_[t])) != std::string_view::npos;
    }
    if (!holds) return false;
  }
  return true;
}

}  // namespace zelto
