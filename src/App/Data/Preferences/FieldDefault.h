// FieldDefault: the default of one record field, in its stored (JSON) form, as its row in the
// record's field table gives it.
//
// A default is a fixed value (300, false, "Default", an empty list) or a generator, called
// afresh each time the defaults are built, for a value that must differ from one time to the
// next (a new identifier, the time now). A field without one has no default: its key is left
// out of the class's defaults.
//
// A plain value, copied freely. `value` runs the generator on the calling thread; the
// generators of the records may be called from any thread. Each thread counts the generated
// values it has made (`generatedOnThisThread`), so that a reader can tell whether what it
// built holds a value that the next read would make anew.
#pragma once

#include <cstdint>
#include <functional>
#include <nlohmann/json.hpp>
#include <type_traits>
#include <utility>

namespace zelto {

class FieldDefault {
 public:
  // No default.
  FieldDefault() = default;

  // A generator: anything callable without arguments whose result converts to JSON.
  template <typename F>
  requires std::is_invocable_v<const F&> FieldDefault(
      F generator)  // NOLINT: implicit, so that a table row reads like its default
      : generate_([generator = std::move(generator)] {
          ++generatedCount();
          return nlohmann::json(generator());
        }) {}

  // A fixed value.
  template <typename T>
  requires(!std::is_invocable_v<const T&> && std::is_constructible_v<nlohmann::json, T>)
      FieldDefault(T fixed)  // NOLINT: implicit, as above
      : generate_([stored = nlohmann::json(std::move(fixed))] { return stored; }) {}

  bool exists() const { return static_cast<bool>(generate_); }
  // The default now. REQUIRES: exists()
  nlohmann::json value() const { return generate_(); }

  // How many generated defaults this thread has made so far; only differences mean anything.
  static uint64_t generatedOnThisThread() { return generatedCount(); }

 private:
  static uint64_t& generatedCount() {
    thread_local uint64_t count = 0;
    return count;
  }

  std::function<nlohmann::json()> generate_;
};

}  // namespace zelto
