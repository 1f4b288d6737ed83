// ZeltoURLMatchIndex: the matchers of a list that may match a URL, found without asking each.
//
// Built over a list of matchers (the manager's, by position). For a lower-cased URL that is no
// block-page address it gives every matcher that could match it (more, perhaps: the caller asks
// each in turn), ordered by the pass of the four-pass walk that tries it (rank 1 to 4, see
// ZeltoURLMatcherManager) and then by position, each once. The first of them that matches is
// therefore the one the walk finds.
//
//  - Plain matchers. Each address prefix, less the "http://" or "https://" and then the "www."
//    it begins with, is a key; the URL, less the same, finds the keys it begins with in a sorted
//    table: the last key not after it, and that key's chain of keys that begin it. A prefix that
//    stops inside one of those ("http", "https://ww", the "http://" of the pattern "+") can't be
//    found that way: its matcher is always a candidate.
//  - Regex matchers, by RequiredLiterals' conditions. One of them is the trigger: the one
//    whose texts are long and shared by the fewest expressions. Its texts are found through a
//    table of one 4-byte piece of each (the rarest piece of the text's longest part without a
//    gap), or of that whole part when shorter, looked up at every place in the URL; where a
//    piece is found, the whole text is compared around it. A matcher is a candidate when a
//    text of its trigger is in the URL and its other conditions hold as well (bar those that
//    every http and https address meets). A matcher without conditions is always a candidate.
//    Some never are: one without an expression at all (the pattern "/"), and one with the same
//    expression and rank as an earlier one (which matches whenever it does, and is tried
//    first).
//
// A plain value, kept by the manager beside its matchers and rebuilt with them; it keeps no
// reference to them. Immutable after construction; any thread.
#pragma once

#include <compare>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "App/Blocking/Helpers/ZeltoURLMatcher.h"

namespace zelto {

class ZeltoURLMatchIndex {
 public:
  // A matcher that may match: the pass that tries it (1 to 4) and its position in the list.
  struct Candidate {
    uint32_t rank = 0;
    uint32_t index = 0;
    auto operator<=>(const Candidate&) const = default;
  };

  // An index of no matchers.
  ZeltoURLMatchIndex() = default;
  explicit ZeltoURLMatchIndex(const std::vector<ZeltoURLMatcher>& matchers);

  // The candidates for `lowercasedUrl` in the order above, in place of what `out` held.
  void candidates(std::string_view lowercasedUrl, std::vector<Candidate>& out) const;

 private:
  struct Piece {
    uint32_t trigger;  // the trigger text it belongs to
    uint32_t offset;   // where it sits in that text's part
  };
  struct Trigger {
    uint32_t literal;
    uint32_t partBegin;  // the part without a gap that the piece comes from, in the text
    uint32_t partLength;
  };
  struct Slot {
    uint64_t key = 0;  // 0: free
    uint32_t begin = 0;
    uint32_t end = 0;  // its pieces in pieces_
  };

  // The expressions' conditions, one after another: expression e's are conditionStart[e] up
  // to conditionStart[e + 1], condition c's texts (their ids) texts[textStart[c]] up to
  // texts[textStart[c + 1]].
  struct Expressions {
    std::vector<uint32_t> matcher;
    std::vector<uint32_t> conditionStart{0};
    std::vector<uint32_t> textStart{0};
    std::vector<uint32_t> texts;
  };

  void addPrefixKeys(const ZeltoURLMatcher& matcher, uint32_t index,
                     std::vector<std::pair<std::string_view, uint32_t>>& prefixKeys);
  void addTriggersAndConditions(const Expressions& expressions, const std::vector<uint32_t>& uses,
                                uint32_t matcherCount);
  Trigger triggerFor(uint32_t literalId) const;
  void buildPrefixTable(std::vector<std::pair<std::string_view, uint32_t>>& prefixKeys);
  void buildPieceTable();
  void addPrefixCandidates(std::string_view url, std::vector<Candidate>& out) const;
  void addLiteralCandidates(std::string_view url, std::vector<Candidate>& out) const;
  const Slot* findSlot(uint64_t key) const;
  bool conditionsHold(uint32_t matcher, std::string_view url) const;
  std::string_view key(size_t i) const {
    return std::string_view(keyText_).substr(keyBegin_[i], keyBegin_[i + 1] - keyBegin_[i]);
  }
  std::string_view literal(size_t i) const {
    return std::string_view(literalText_)
        .substr(literalBegin_[i], literalBegin_[i + 1] - literalBegin_[i]);
  }
  std::string_view part(const Trigger& trigger) const {
    return literal(trigger.literal).substr(trigger.partBegin, trigger.partLength);
  }

  std::vector<uint8_t> rank_;     // by matcher
  std::vector<uint32_t> always_;  // matchers that are always candidates

  // Plain prefixes: the keys sorted, each with the nearest key that begins it (-1: none) and
  // its matchers (keyMatchers_ from keyMatchersBegin_[i] to keyMatchersBegin_[i + 1]).
  std::string keyText_;
  std::vector<uint32_t> keyBegin_{0};
  // For a long table, where the keys begin with each pair of first bytes: those beginning
  // with bytes b1 b2 are from keyBucket_[b1 * 256 + b2] on.
  std::vector<uint32_t> keyBucket_;
  std::vector<int32_t> keyParent_;
  std::vector<uint32_t> keyMatchersBegin_{0};
  std::vector<uint32_t> keyMatchers_;

  // Every text of every condition; the trigger texts with the matchers they trigger.
  std::string literalText_;
  std::vector<uint32_t> literalBegin_{0};
  std::vector<Trigger> triggers_;
  std::vector<uint32_t> triggerMatchersBegin_{0};
  std::vector<uint32_t> triggerMatchers_;
  // The conditions of each matcher besides its trigger (conditionBegin_ from conditionsOf_[m]
  // to conditionsOf_[m + 1]), each a run of texts in conditionLiterals_.
  std::vector<uint32_t> conditionsOf_;
  std::vector<uint32_t> conditionBegin_{0};
  std::vector<uint32_t> conditionLiterals_;

  // The pieces of the trigger texts, grouped by key (the piece's bytes and its length), found
  // through an open-addressed table behind a bit filter.
  std::vector<Piece> pieces_;
  std::vector<Slot> slots_;
  uint64_t slotMask_ = 0;
  int slotShift_ = 64;  // a hash's top bits choose the slot
  std::vector<uint64_t> filter_;
  int filterShift_ = 64;                // a hash's top bits choose the filter's bit
  std::vector<uint32_t> pieceLengths_;  // the lengths that some key has, shortest first
};

}  // namespace zelto
