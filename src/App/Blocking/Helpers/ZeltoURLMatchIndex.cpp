#include "App/Blocking/Helpers/ZeltoURLMatchIndex.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <functional>
#include <optional>
#include <span>
#include <utility>

#include "App/Blocking/Helpers/RequiredLiterals.h"

namespace zelto {

namespace {

constexpr std::string_view kHttp = "http://";
constexpr std::string_view kHttps = "https://";
constexpr std::string_view kWww = "www.";
constexpr uint32_t kPieceLength = 4;
// The prefix table is split by the first two bytes of its keys once it is this long.
constexpr size_t kKeysForBuckets = 1024;
constexpr size_t kBuckets = 1 << 16;

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

// The same for a matcher's prefix, as a view into its text: what comes before the text (a
// scheme, then perhaps "www.") is always dropped whole, and the text then as above.
std::optional<std::string_view> prefixKey(const ZeltoURLMatcher::Prefix& prefix) {
  if (prefix.before.empty()) return prefixKey(prefix.rest);
  if (prefix.before.ends_with(kWww)) return prefix.rest;
  if (prefix.rest.starts_with(kWww)) return prefix.rest.substr(kWww.size());
  if (kWww.starts_with(prefix.rest)) return std::nullopt;
  return prefix.rest;
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

// Fibonacci hashing: the high bits are the good ones.
uint64_t mix(uint64_t key) { return key * 0x9e3779b97f4a7c15ULL; }

// The first two bytes of `text`, zeros after its end, as a number that orders as they do.
size_t bucketOf(std::string_view text) {
  return (text.size() > 0 ? static_cast<unsigned char>(text[0]) << 8 : 0u) |
         (text.size() > 1 ? static_cast<unsigned char>(text[1]) : 0u);
}

// The first eight bytes of `text`, zeros after its end, as a number that orders as they do:
// a smaller head means a smaller text, an equal one says nothing.
uint64_t headOf(std::string_view text) {
  uint64_t head = 0;
  for (size_t i = 0; i < 8; ++i) {
    head = head << 8 | (i < text.size() ? static_cast<unsigned char>(text[i]) : 0u);
  }
  return head;
}

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

// A set of ids, open-addressed, told the key of an id by `keyOf` and how to hash a key by
// `hash`: what a standard container would do here with an allocation per entry. Each slot
// keeps the hash too, so that keys are compared only when their hashes agree.
template <typename KeyOf, typename Hash>
class IdSet {
 public:
  IdSet(KeyOf keyOf, Hash hash) : keyOf_(std::move(keyOf)), hash_(std::move(hash)) {}

  // The id in the set with the key of `id`, or `id` itself, added now.
  uint32_t findOrAdd(uint32_t id) {
    if ((size_ + 1) * 2 > slots_.size()) grow();
    const auto key = keyOf_(id);
    const uint64_t hash = hash_(key);
    for (size_t at = hash & (slots_.size() - 1);; at = (at + 1) & (slots_.size() - 1)) {
      Slot& slot = slots_[at];
      if (slot.id == kNone) {
        slot = {id, hash};
        ++size_;
        return id;
      }
      if (slot.hash == hash && keyOf_(slot.id) == key) return slot.id;
    }
  }

 private:
  static constexpr uint32_t kNone = UINT32_MAX;
  struct Slot {
    uint32_t id = kNone;
    uint64_t hash = 0;
  };

  void grow() {
    std::vector<Slot> old = std::move(slots_);
    slots_.assign(std::max<size_t>(64, old.size() * 2), Slot{});
    for (const Slot& slot : old) {
      if (slot.id == kNone) continue;
      size_t at = slot.hash & (slots_.size() - 1);
      while (slots_[at].id != kNone) at = (at + 1) & (slots_.size() - 1);
      slots_[at] = slot;
    }
  }

  KeyOf keyOf_;
  Hash hash_;
  std::vector<Slot> slots_;
  size_t size_ = 0;
};

const auto kHashText = [](std::string_view text) { return std::hash<std::string_view>{}(text); };

}  // namespace

ZeltoURLMatchIndex::ZeltoURLMatchIndex(const std::vector<ZeltoURLMatcher>& matchers) {
  const auto count = static_cast<uint32_t>(matchers.size());
  rank_.resize(count);

  // Every text once: added at the end of literalText_, and taken off again when it was there.
  IdSet literalIds([this](uint32_t id) { return literal(id); }, kHashText);
  auto literalId = [&](const std::string& text) {
    const auto id = static_cast<uint32_t>(literalBegin_.size() - 1);
    literalText_ += text;
    literalBegin_.push_back(static_cast<uint32_t>(literalText_.size()));
    const uint32_t found = literalIds.findOrAdd(id);
    if (found != id) {
      literalBegin_.pop_back();
      literalText_.resize(literalBegin_.back());
    }
    return found;
  };
  // The expressions seen, by rank.
  auto sourceOf = [&](uint32_t i) { return std::string_view(matchers[i].regexSource()); };
  std::vector<IdSet<decltype(sourceOf), decltype(kHashText)>> sources(5, {sourceOf, kHashText});

  std::vector<std::pair<std::string_view, uint32_t>> prefixKeys;
  Expressions expressions;
  std::vector<uint32_t> uses;      // by text: how many expressions have it in a condition
  std::vector<uint32_t> lastUser;  // by text: the last expression counted in `uses`
  for (uint32_t i = 0; i < count; ++i) {
    const ZeltoURLMatcher& matcher = matchers[i];
    const uint32_t rank = rankOf(matcher);
    rank_[i] = static_cast<uint8_t>(rank);
    if (!matcher.isRegex()) {
      addPrefixKeys(matcher, i, prefixKeys);
      continue;
    }
    const std::string& source = matcher.regexSource();
    if (source.empty()) continue;                   // never compiles: never matches
    if (sources[rank].findOrAdd(i) != i) continue;  // the earlier one decides
    const std::vector<RequiredLiterals::AnyOf> conditions = RequiredLiterals::of(source);
    if (conditions.empty()) {
      always_.push_back(i);
      continue;
    }
    const auto e = static_cast<uint32_t>(expressions.matcher.size());
    expressions.matcher.push_back(i);
    for (const auto& condition : conditions) {
      for (const std::string& text : condition) {
        const uint32_t id = literalId(text);
        expressions.texts.push_back(id);
        uses.resize(literalBegin_.size() - 1, 0);
        lastUser.resize(uses.size(), UINT32_MAX);
        if (lastUser[id] != e) ++uses[id];
        lastUser[id] = e;
      }
      expressions.textStart.push_back(static_cast<uint32_t>(expressions.texts.size()));
    }
    expressions.conditionStart.push_back(static_cast<uint32_t>(expressions.textStart.size() - 1));
  }
  addTriggersAndConditions(expressions, uses, count);
  buildPrefixTable(prefixKeys);
  buildPieceTable();
}

void ZeltoURLMatchIndex::addPrefixKeys(
    const ZeltoURLMatcher& matcher, uint32_t index,
    std::vector<std::pair<std::string_view, uint32_t>>& prefixKeys) {
  // Most of a matcher's prefixes have the same key: each key once.
  const size_t first = prefixKeys.size();
  for (size_t p = 0; p < matcher.prefixCount(); ++p) {
    const ZeltoURLMatcher::Prefix prefix = matcher.prefix(p);
    if (prefix.empty()) continue;  // never taken
    const std::optional<std::string_view> key = prefixKey(prefix);
    if (!key) {
      prefixKeys.resize(first);
      always_.push_back(index);
      return;
    }
    if (std::none_of(prefixKeys.begin() + first, prefixKeys.end(),
                     [&](const auto& k) { return k.first == *key; })) {
      prefixKeys.emplace_back(*key, index);
    }
  }
}

void ZeltoURLMatchIndex::addTriggersAndConditions(const Expressions& expressions,
                                                  const std::vector<uint32_t>& uses,
                                                  uint32_t matcherCount) {
  // The trigger of each expression: its cheapest condition, counting how many expressions
  // share its texts (a text in many of them finds many at once). The others are kept to be
  // asked, the most telling first, bar those that every http and https address meets.
  std::vector<int> costs(uses.size());
  for (uint32_t id = 0; id < costs.size(); ++id) costs[id] = RequiredLiterals::cost(literal(id));
  auto texts = [&](uint32_t c) {
    return std::span(expressions.texts)
        .subspan(expressions.textStart[c], expressions.textStart[c + 1] - expressions.textStart[c]);
  };
  auto cost = [&](uint32_t c) {
    int total = 0;
    for (uint32_t id : texts(c)) total += costs[id];
    return total;
  };
  auto score = [&](uint32_t c) {
    uint64_t shared = 0;
    for (uint32_t id : texts(c)) shared += uses[id];
    return static_cast<uint64_t>(cost(c)) * shared;
  };
  auto metByEveryHttpAddress = [&](uint32_t c) {
    const auto t = texts(c);
    return std::any_of(t.begin(), t.end(),
                       [&](uint32_t id) { return kHttps.find(literal(id)) != kHttps.npos; });
  };

  std::vector<uint32_t> triggerIds(uses.size(), UINT32_MAX);  // by text
  std::vector<std::pair<uint32_t, uint32_t>> triggered;       // (trigger, matcher)
  conditionsOf_.assign(matcherCount + 1, 0);
  uint32_t next = 0;  // the next matcher whose conditions begin
  std::vector<uint32_t> others;
  for (size_t e = 0; e < expressions.matcher.size(); ++e) {
    const uint32_t matcher = expressions.matcher[e];
    for (; next <= matcher; ++next) {
      conditionsOf_[next] = static_cast<uint32_t>(conditionBegin_.size() - 1);
    }
    uint32_t trigger = expressions.conditionStart[e];
    for (uint32_t c = expressions.conditionStart[e]; c < expressions.conditionStart[e + 1]; ++c) {
      if (c == expressions.conditionStart[e] || score(c) < score(trigger)) trigger = c;
    }
    for (uint32_t id : texts(trigger)) {
      if (triggerIds[id] == UINT32_MAX) {
        triggerIds[id] = static_cast<uint32_t>(triggers_.size());
        triggers_.push_back(triggerFor(id));
      }
      triggered.emplace_back(triggerIds[id], matcher);
    }
    others.clear();
    for (uint32_t c = expressions.conditionStart[e]; c < expressions.conditionStart[e + 1]; ++c) {
      if (c != trigger && !metByEveryHttpAddress(c)) others.push_back(c);
    }
    std::stable_sort(others.begin(), others.end(),
                     [&](uint32_t a, uint32_t b) { return cost(a) < cost(b); });
    for (uint32_t c : others) {
      const auto t = texts(c);
      conditionLiterals_.insert(conditionLiterals_.end(), t.begin(), t.end());
      conditionBegin_.push_back(static_cast<uint32_t>(conditionLiterals_.size()));
    }
  }
  for (; next <= matcherCount; ++next) {
    conditionsOf_[next] = static_cast<uint32_t>(conditionBegin_.size() - 1);
  }
  groupByFirst(triggered, triggers_.size(), triggerMatchersBegin_, triggerMatchers_);
}

ZeltoURLMatchIndex::Trigger ZeltoURLMatchIndex::triggerFor(uint32_t literalId) const {
  // The longest part without a gap (the first of the longest).
  const std::string_view text = literal(literalId);
  Trigger trigger{.literal = literalId, .partBegin = 0, .partLength = 0};
  for (size_t begin = 0; begin < text.size();) {
    const size_t end = std::min(text.find(RequiredLiterals::kGap, begin), text.size());
    if (end - begin > trigger.partLength) {
      trigger.partBegin = static_cast<uint32_t>(begin);
      trigger.partLength = static_cast<uint32_t>(end - begin);
    }
    begin = end + 1;
  }
  return trigger;
}

void ZeltoURLMatchIndex::buildPrefixTable(
    std::vector<std::pair<std::string_view, uint32_t>>& prefixKeys) {
  // Sorted by their first bytes first: most comparisons end there.
  std::vector<uint64_t> heads(prefixKeys.size());
  std::vector<uint32_t> order(prefixKeys.size());
  for (uint32_t i = 0; i < order.size(); ++i) {
    heads[i] = headOf(prefixKeys[i].first);
    order[i] = i;
  }
  std::sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
    if (heads[a] != heads[b]) return heads[a] < heads[b];
    return prefixKeys[a] < prefixKeys[b];
  });
  std::vector<std::pair<std::string_view, uint32_t>> sorted;
  sorted.reserve(order.size());
  for (uint32_t i : order) sorted.push_back(prefixKeys[i]);
  prefixKeys = std::move(sorted);
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
  keyText_.shrink_to_fit();
  if (keyParent_.size() < kKeysForBuckets) return;
  keyBucket_.assign(kBuckets + 1, 0);
  for (size_t k = 0; k < keyParent_.size(); ++k) ++keyBucket_[bucketOf(key(k)) + 1];
  for (size_t b = 0; b < kBuckets; ++b) keyBucket_[b + 1] += keyBucket_[b];
}

void ZeltoURLMatchIndex::buildPieceTable() {
  // How many trigger parts each 4-byte piece is in, to take the rarest of each part. The
  // pieces of all parts, one after another, as ids into `counts`.
  std::vector<uint64_t> keys;
  std::vector<uint32_t> counts;
  IdSet ids([&](uint32_t id) { return keys[id]; }, [](uint64_t key) { return mix(key) >> 32; });
  std::vector<uint32_t> pieceIds;
  for (const Trigger& trigger : triggers_) {
    const std::string_view part = this->part(trigger);
    for (size_t at = 0; at + kPieceLength <= part.size(); ++at) {
      keys.push_back(pieceKey(part.data() + at, kPieceLength));
      const auto id = static_cast<uint32_t>(keys.size() - 1);
      const uint32_t found = ids.findOrAdd(id);
      if (found == id) {
        counts.push_back(0);
      } else {
        keys.pop_back();
      }
      ++counts[found];
      pieceIds.push_back(found);
    }
  }
  std::vector<std::pair<uint64_t, Piece>> keyed;
  keyed.reserve(triggers_.size());
  const uint32_t* next = pieceIds.data();
  for (uint32_t t = 0; t < triggers_.size(); ++t) {
    const std::string_view part = this->part(triggers_[t]);
    if (part.size() < kPieceLength) {
      keyed.push_back({pieceKey(part.data(), static_cast<uint32_t>(part.size())), {t, 0}});
      continue;
    }
    uint32_t best = 0;
    for (uint32_t at = 1; at + kPieceLength <= part.size(); ++at) {
      if (counts[next[at]] < counts[next[best]]) best = at;
    }
    keyed.push_back({keys[next[best]], {t, best}});
    next += part.size() - kPieceLength + 1;
  }
  std::sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) {
    return a.first != b.first ? a.first < b.first : a.second.trigger < b.second.trigger;
  });

  size_t distinct = 0;
  for (size_t i = 0; i < keyed.size(); ++i) {
    distinct += i == 0 || keyed[i].first != keyed[i - 1].first;
  }
  slots_.assign(std::bit_ceil(std::max<size_t>(16, distinct * 2)), Slot{});
  slotMask_ = slots_.size() - 1;
  slotShift_ = 64 - std::countr_zero(slots_.size());
  // About eight bits for each key, from 1,024 to 262,144 bits.
  filterShift_ = 64 - static_cast<int>(std::clamp<size_t>(std::bit_width(distinct * 8), 10, 18));
  filter_.assign((size_t{1} << (64 - filterShift_)) / 64, 0);
  pieces_.reserve(keyed.size());
  uint32_t lengths = 0;
  for (size_t i = 0; i < keyed.size();) {
    const uint64_t k = keyed[i].first;
    Slot slot{.key = k, .begin = static_cast<uint32_t>(pieces_.size()), .end = 0};
    for (; i < keyed.size() && keyed[i].first == k; ++i) pieces_.push_back(keyed[i].second);
    slot.end = static_cast<uint32_t>(pieces_.size());
    const uint64_t hash = mix(k);
    size_t at = hash >> slotShift_;
    while (slots_[at].key != 0) at = (at + 1) & slotMask_;
    slots_[at] = slot;
    filter_[(hash >> filterShift_) / 64] |= uint64_t{1} << ((hash >> filterShift_) % 64);
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
  if (!keyBucket_.empty()) {
    low = keyBucket_[bucketOf(rest)];
    high = keyBucket_[bucketOf(rest) + 1];
  }
  while (low < high) {
    const size_t middle = low + (high - low) / 2;
    if (key(middle) <= rest) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  // (Before the bucket, the keys whose first two bytes come before the URL's.)
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
  const size_t bit = hash >> filterShift_;
  if ((filter_[bit / 64] & (uint64_t{1} << (bit % 64))) == 0) return nullptr;
  for (size_t at = hash >> slotShift_;; at = (at + 1) & slotMask_) {
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
        const Trigger& trigger = triggers_[piece.trigger];
        // The whole text, gaps and all, around the piece.
        if (at < piece.offset || !RequiredLiterals::isAt(literal(trigger.literal), url,
                                                         trigger.partBegin + piece.offset, at)) {
          continue;
        }
        for (uint32_t m = triggerMatchersBegin_[piece.trigger];
             m < triggerMatchersBegin_[piece.trigger + 1]; ++m) {
          const uint32_t matcher = triggerMatchers_[m];
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
      holds = RequiredLiterals::isIn(literal(conditionLiterals_[t]), url);
    }
    if (!holds) return false;
  }
  return true;
}

}  // namespace zelto
