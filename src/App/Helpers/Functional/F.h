// F: functional operations over lists (std::vector) and dictionaries (std::map).
//
// Every operation is a static member of F that takes the collection and a block (any callable)
// and returns a new collection; the input is never changed. Lists keep element order; a map is
// walked in its own (key) order.
//
// Modes: operations run sequentially on the caller's thread unless parallel mode is on
// (`useConcurrency`, `concurrently`). Then the operations of the families each, map, filter,
// reject, all, any, count and `mapRangeFrom` spread their per-element steps over the configured
// queue's `apply`: blocks run on several threads at once in no fixed order, but results still
// keep the input order (every element has its own result slot), and the operation returns only
// when all steps are done. The other operations are always sequential. The mode and the queue
// are read once when an operation starts; with parallel mode on but no queue (`useQueue` with
// nullptr) operations run sequentially.
//
// Blocks receive elements as `const T&` (keys and values as `const K&`, `const V&`). A block
// that orders two elements (max, min, sort) returns a three-way result that compares with 0:
// negative when the first is smaller (the platform's "ascending", -1), 0 when the same, positive
// when greater ("descending", 1). Both an int -1/0/1 and a std::*_ordering from `<=>` work.
//
// Safety choices: parallel filter/reject keep a chosen/not-chosen mask rather than placeholder
// values, so no chosen element is ever lost; `first`
// answers std::nullopt for an empty list; `tail`, `arrayUntilIndex` and `arrayFromIndexOn`
// clamp an index beyond the count instead of failing. Exceptions from blocks reach the caller
// (in parallel mode after every running step has finished; later steps are skipped).
//
// Thread safety: the mode switches and every operation may be called from any thread. In
// parallel mode the blocks must be safe to run concurrently.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <type_traits>
#include <utility>
#include <vector>

#include "Platform/DispatchQueue.h"

namespace zelto {

class F {
 public:
  F() = delete;

  // ---------------------------------------------------------------------------------------------
  // Mode switching. The settings are process-wide.

  // Logs "ATTENTION - USING CONCURRENCY WILL RESULT IN A NON-SEQUENTIAL EXECUTION OF THE PASSED
  // BLOCKS" at warning level, turns parallel mode on and sets the queue to DispatchQueue::global().
  static void useConcurrency();
  // Turns parallel mode off; the queue setting stays.
  static void dontUseConcurrency();
  // Sets the queue; the mode stays.
  static void useQueue(std::shared_ptr<DispatchQueue> queue);
  // useConcurrency, block(), dontUseConcurrency (also when the block throws).
  static void concurrently(const std::function<void()>& block);
  // useConcurrency, useQueue(queue), block(), dontUseConcurrency; the queue setting stays.
  static void concurrently(const std::function<void()>& block,
                           std::shared_ptr<DispatchQueue> queue);

  static bool usesConcurrency();
  static std::shared_ptr<DispatchQueue> queue();
  // The queue the marked operations use right now: null when they run sequentially.
  static std::shared_ptr<DispatchQueue> parallelQueue();

  // ---------------------------------------------------------------------------------------------
  // Execution helpers.

  // Calls the block n times; not at all when n <= 0.
  static void times(int32_t n, const std::function<void()>& block);
  // Submits the block to DispatchQueue::global() and returns at once.
  static void asynchronously(std::function<void()> block);
  // On the main thread: calls the block at once. Elsewhere: runs it on the main thread and waits
  // until it has finished (MainThread::runAndWait). Never call it from a thread that the main
  // thread is waiting for.
  static void onUIThread(const std::function<void()>& block);

  // ---------------------------------------------------------------------------------------------
  // each: block(element) / block(element, index) / block(key, value), once per entry.

  template <typename T, typename Block>
  static void eachInArray(const std::vector<T>& list, Block&& block) {
    if (auto q = parallelQueue()) {
      q->apply(list.size(), [&](size_t i) { block(list[i]); });
      return;
    }
    for (const T& x : list) block(x);
  }

  template <typename T, typename Block>
  static void eachInArrayWithIndex(const std::vector<T>& list, Block&& block) {
    if (auto q = parallelQueue()) {
      q->apply(list.size(), [&](size_t i) { block(list[i], i); });
      return;
    }
    for (size_t i = 0; i < list.size(); ++i) block(list[i], i);
  }

  template <typename K, typename V, typename Block>
  static void eachInDict(const std::map<K, V>& dict, Block&& block) {
    if (auto q = parallelQueue()) {
      auto entries = entriesOf(dict);
      q->apply(entries.size(), [&](size_t i) { block(entries[i]->first, entries[i]->second); });
      return;
    }
    for (const auto& [k, v] : dict) block(k, v);
  }

  // ---------------------------------------------------------------------------------------------
  // map: block(element) -> R gives a list of R in element order. mapDict: block(key, value) ->
  // std::optional<V2>; a key whose result is std::nullopt is left out of the result.

  template <typename T, typename Block>
  static auto mapArray(const std::vector<T>& list, Block&& block) {
    using R = std::decay_t<std::invoke_result_t<Block&, const T&>>;
    static_assert(!std::is_void_v<R>, "mapArray: the block must return a value");
    if (auto q = parallelQueue()) {
      std::vector<std::optional<R>> slots(list.size());
      q->apply(list.size(), [&](size_t i) { slots[i].emplace(block(list[i])); });
      return unwrapSlots(std::move(slots));
    }
    std::vector<R> result;
    result.reserve(list.size());
    for (const T& x : list) result.push_back(block(x));
    return result;
  }

  template <typename K, typename V, typename Block>
  static auto mapDict(const std::map<K, V>& dict, Block&& block) {
    using Optional = std::decay_t<std::invoke_result_t<Block&, const K&, const V&>>;
    using V2 = typename Optional::value_type;  // the block returns std::optional<V2>
    std::map<K, V2> result;
    if (auto q = parallelQueue()) {
      auto entries = entriesOf(dict);
      std::vector<std::optional<V2>> slots(entries.size());
      q->apply(entries.size(),
               [&](size_t i) { slots[i] = block(entries[i]->first, entries[i]->second); });
      for (size_t i = 0; i < entries.size(); ++i) {
        if (slots[i]) result.emplace_hint(result.end(), entries[i]->first, std::move(*slots[i]));
      }
      return result;
    }
    for (const auto& [k, v] : dict) {
      std::optional<V2> y = block(k, v);
      if (y) result.emplace_hint(result.end(), k, std::move(*y));
    }
    return result;
  }

  // mapRangeFrom: block(i) for i = a, a+1, ..., b-1; empty (and no call) when b <= a.
  template <typename Block>
  static auto mapRangeFrom(int64_t a, int64_t b, Block&& block) {
    using R = std::decay_t<std::invoke_result_t<Block&, int64_t>>;
    static_assert(!std::is_void_v<R>, "mapRangeFrom: the block must return a value");
    if (b <= a) return std::vector<R>{};
    const auto count = static_cast<size_t>(static_cast<uint64_t>(b) - static_cast<uint64_t>(a));
    const auto at = [a](size_t j) {
      return static_cast<int64_t>(static_cast<uint64_t>(a) + static_cast<uint64_t>(j));
    };
    if (auto q = parallelQueue()) {
      std::vector<std::optional<R>> slots(count);
      q->apply(count, [&](size_t j) { slots[j].emplace(block(at(j))); });
      return unwrapSlots(std::move(slots));
    }
    std::vector<R> result;
    result.reserve(count);
    for (size_t j = 0; j < count; ++j) result.push_back(block(at(j)));
    return result;
  }

  // bind (flat-map): block(element) -> std::vector<U>; all results joined in element order.
  template <typename T, typename Block>
  static auto bindArray(const std::vector<T>& list, Block&& block) {
    using Part = std::decay_t<std::invoke_result_t<Block&, const T&>>;
    Part result;
    for (const T& x : list) {
      Part part = block(x);
      result.insert(result.end(), std::make_move_iterator(part.begin()),
                    std::make_move_iterator(part.end()));
    }
    return result;
  }

  // zip: pairs (a[i], b[i]) for i below the shorter length.
  template <typename A, typename B>
  static std::vector<std::pair<A, B>> zipArray(const std::vector<A>& a, const std::vector<B>& b) {
    const size_t n = std::min(a.size(), b.size());
    std::vector<std::pair<A, B>> result;
    result.reserve(n);
    for (size_t i = 0; i < n; ++i) result.emplace_back(a[i], b[i]);
    return result;
  }

  // ---------------------------------------------------------------------------------------------
  // reduce: memo = block(memo, element) / block(memo, key, value); the initial memo when empty.

  template <typename T, typename Block, typename Memo>
  static Memo reduceArray(const std::vector<T>& list, Block&& block, Memo memo) {
    for (const T& x : list) memo = block(std::move(memo), x);
    return memo;
  }

  template <typename K, typename V, typename Block, typename Memo>
  static Memo reduceDictionary(const std::map<K, V>& dict, Block&& block, Memo memo) {
    for (const auto& [k, v] : dict) memo = block(std::move(memo), k, v);
    return memo;
  }

  // ---------------------------------------------------------------------------------------------
  // filter keeps the entries whose block gives true, reject those giving false; order kept.

  template <typename T, typename Block>
  static std::vector<T> filterArray(const std::vector<T>& list, Block&& block) {
    return selectFromArray(list, block, true);
  }

  template <typename T, typename Block>
  static std::vector<T> rejectArray(const std::vector<T>& list, Block&& block) {
    return selectFromArray(list, block, false);
  }

  template <typename K, typename V, typename Block>
  static std::map<K, V> filterDictionary(const std::map<K, V>& dict, Block&& block) {
    return selectFromDict(dict, block, true);
  }

  template <typename K, typename V, typename Block>
  static std::map<K, V> rejectDictionary(const std::map<K, V>& dict, Block&& block) {
    return selectFromDict(dict, block, false);
  }

  // ---------------------------------------------------------------------------------------------
  // all (true when empty), any (false when empty), count.

  template <typename T, typename Block>
  static bool allInArray(const std::vector<T>& list, Block&& block) {
    return allOf(list.size(), [&](size_t i) { return static_cast<bool>(block(list[i])); });
  }

  template <typename K, typename V, typename Block>
  static bool allInDictionary(const std::map<K, V>& dict, Block&& block) {
    auto entries = entriesOf(dict);
    return allOf(entries.size(), [&](size_t i) {
      return static_cast<bool>(block(entries[i]->first, entries[i]->second));
    });
  }

  template <typename T, typename Block>
  static bool anyInArray(const std::vector<T>& list, Block&& block) {
    return !allOf(list.size(), [&](size_t i) { return !block(list[i]); });
  }

  template <typename K, typename V, typename Block>
  static bool anyInDictionary(const std::map<K, V>& dict, Block&& block) {
    auto entries = entriesOf(dict);
    return !allOf(entries.size(),
                  [&](size_t i) { return !block(entries[i]->first, entries[i]->second); });
  }

  template <typename T, typename Block>
  static size_t countInArray(const std::vector<T>& list, Block&& block) {
    return countOf(list.size(), [&](size_t i) { return static_cast<bool>(block(list[i])); });
  }

  template <typename K, typename V, typename Block>
  static size_t countInDictionary(const std::map<K, V>& dict, Block&& block) {
    auto entries = entriesOf(dict);
    return countOf(entries.size(), [&](size_t i) {
      return static_cast<bool>(block(entries[i]->first, entries[i]->second));
    });
  }

  // ---------------------------------------------------------------------------------------------
  // max / min: block(a, b) / block(k1, v1, k2, v2) -> three-way result (see top). Ties keep the
  // earlier entry. std::nullopt when empty. The dictionary forms return the best entry's value.

  template <typename T, typename Block>
  static std::optional<T> maxArray(const std::vector<T>& list, Block&& block) {
    return bestInArray(list, [&](const T& best, const T& x) { return block(best, x) < 0; });
  }

  template <typename T, typename Block>
  static std::optional<T> minArray(const std::vector<T>& list, Block&& block) {
    return bestInArray(list, [&](const T& best, const T& x) { return block(best, x) > 0; });
  }

  template <typename K, typename V, typename Block>
  static std::optional<V> maxDict(const std::map<K, V>& dict, Block&& block) {
    return bestInDict(dict, [&](const K& bk, const V& bv, const K& k, const V& v) {
      return block(bk, bv, k, v) < 0;
    });
  }

  template <typename K, typename V, typename Block>
  static std::optional<V> minDict(const std::map<K, V>& dict, Block&& block) {
    return bestInDict(dict, [&](const K& bk, const V& bv, const K& k, const V& v) {
      return block(bk, bv, k, v) > 0;
    });
  }

  // ---------------------------------------------------------------------------------------------
  // group: key = block(element); each key maps to its elements in element order.

  template <typename T, typename Block>
  static auto groupArray(const std::vector<T>& list, Block&& block) {
    using Key = std::decay_t<std::invoke_result_t<Block&, const T&>>;
    std::map<Key, std::vector<T>> result;
    for (const T& x : list) result[block(x)].push_back(x);
    return result;
  }

  // drop-while: the list without its leading run of elements whose block gives true.
  template <typename T, typename Block>
  static std::vector<T> dropFromArray(const std::vector<T>& list, Block&& block) {
    size_t i = 0;
    while (i < list.size() && block(list[i])) ++i;
    return std::vector<T>(list.begin() + static_cast<std::ptrdiff_t>(i), list.end());
  }

  // ---------------------------------------------------------------------------------------------
  // List extras (list methods without a collection-operation counterpart).

  // Sorted ascending by the three-way comparator; equal elements keep their order.
  template <typename T, typename Comparator>
  static std::vector<T> sort(const std::vector<T>& list, Comparator&& comparator) {
    std::vector<T> result = list;
    std::stable_sort(result.begin(), result.end(),
                     [&](const T& a, const T& b) { return comparator(a, b) < 0; });
    return result;
  }

  // Element 0; std::nullopt for an empty list.
  template <typename T>
  static std::optional<T> first(const std::vector<T>& list) {
    if (list.empty()) return std::nullopt;
    return list.front();
  }

  // Everything but element 0; empty for an empty list.
  template <typename T>
  static std::vector<T> tail(const std::vector<T>& list) {
    return arrayFromIndexOn(list, 1);
  }

  template <typename T>
  static std::vector<T> reverse(const std::vector<T>& list) {
    return std::vector<T>(list.rbegin(), list.rend());
  }

  // The first n elements (the whole list when n exceeds the count).
  template <typename T>
  static std::vector<T> arrayUntilIndex(const std::vector<T>& list, size_t n) {
    n = std::min(n, list.size());
    return std::vector<T>(list.begin(), list.begin() + static_cast<std::ptrdiff_t>(n));
  }

  // The elements from index n to the end (empty when n exceeds the count).
  template <typename T>
  static std::vector<T> arrayFromIndexOn(const std::vector<T>& list, size_t n) {
    n = std::min(n, list.size());
    return std::vector<T>(list.begin() + static_cast<std::ptrdiff_t>(n), list.end());
  }

  // a, a+1, ..., b (both ends included); empty when a > b.
  static std::vector<int64_t> arrayFrom(int64_t a, int64_t b);

 private:
  // Pointers to the map's entries in its order, so that parallel step i can reach entry i.
  template <typename K, typename V>
  static std::vector<const std::pair<const K, V>*> entriesOf(const std::map<K, V>& dict) {
    std::vector<const std::pair<const K, V>*> entries;
    entries.reserve(dict.size());
    for (const auto& entry : dict) entries.push_back(&entry);
    return entries;
  }

  template <typename R>
  static std::vector<R> unwrapSlots(std::vector<std::optional<R>>&& slots) {
    std::vector<R> result;
    result.reserve(slots.size());
    for (std::optional<R>& slot : slots) result.push_back(std::move(*slot));
    return result;
  }

  // filter (keep == true) and reject (keep == false). In parallel mode every element has its own
  // mask byte (not std::vector<bool>, whose bits share bytes); the result is built afterwards.
  template <typename T, typename Block>
  static std::vector<T> selectFromArray(const std::vector<T>& list, Block& block, bool keep) {
    std::vector<T> result;
    if (auto q = parallelQueue()) {
      std::vector<unsigned char> chosen(list.size(), 0);
      q->apply(list.size(),
               [&](size_t i) { chosen[i] = static_cast<bool>(block(list[i])) == keep; });
      for (size_t i = 0; i < list.size(); ++i) {
        if (chosen[i]) result.push_back(list[i]);
      }
      return result;
    }
    for (const T& x : list) {
      if (static_cast<bool>(block(x)) == keep) result.push_back(x);
    }
    return result;
  }

  template <typename K, typename V, typename Block>
  static std::map<K, V> selectFromDict(const std::map<K, V>& dict, Block& block, bool keep) {
    std::map<K, V> result;
    if (auto q = parallelQueue()) {
      auto entries = entriesOf(dict);
      std::vector<unsigned char> chosen(entries.size(), 0);
      q->apply(entries.size(), [&](size_t i) {
        chosen[i] = static_cast<bool>(block(entries[i]->first, entries[i]->second)) == keep;
      });
      for (size_t i = 0; i < entries.size(); ++i) {
        if (chosen[i]) result.insert(result.end(), *entries[i]);
      }
      return result;
    }
    for (const auto& entry : dict) {
      if (static_cast<bool>(block(entry.first, entry.second)) == keep) {
        result.insert(result.end(), entry);
      }
    }
    return result;
  }

  // True when test(i) holds for every i in [0, count). Sequentially it stops at the first false;
  // in parallel mode the shared answer, once false, makes later steps skip their test.
  template <typename Test>
  static bool allOf(size_t count, const Test& test) {
    if (auto q = parallelQueue()) {
      std::atomic<bool> answer{true};
      q->apply(count, [&](size_t i) {
        if (answer.load(std::memory_order_relaxed) && !test(i)) answer = false;
      });
      return answer;
    }
    for (size_t i = 0; i < count; ++i) {
      if (!test(i)) return false;
    }
    return true;
  }

  template <typename Test>
  static size_t countOf(size_t count, const Test& test) {
    if (auto q = parallelQueue()) {
      std::atomic<size_t> counter{0};
      q->apply(count, [&](size_t i) {
        if (test(i)) counter.fetch_add(1, std::memory_order_relaxed);
      });
      return counter;
    }
    size_t counter = 0;
    for (size_t i = 0; i < count; ++i) {
      if (test(i)) ++counter;
    }
    return counter;
  }

  // `better(best, x)` is true when x replaces the best so far; ties keep the earlier element.
  // Element 0 is not compared with itself: that call could not change the answer.
  template <typename T, typename Better>
  static std::optional<T> bestInArray(const std::vector<T>& list, const Better& better) {
    if (list.empty()) return std::nullopt;
    size_t best = 0;
    for (size_t i = 1; i < list.size(); ++i) {
      if (better(list[best], list[i])) best = i;
    }
    return list[best];
  }

  template <typename K, typename V, typename Better>
  static std::optional<V> bestInDict(const std::map<K, V>& dict, const Better& better) {
    if (dict.empty()) return std::nullopt;
    auto best = dict.begin();
    for (auto it = std::next(dict.begin()); it != dict.end(); ++it) {
      if (better(best->first, best->second, it->first, it->second)) best = it;
    }
    return best->second;
  }
};

}  // namespace zelto
