// ZeltoBaseJSONModel: the base of every stored record, and the mapping between a record and
// its JSON object.
//
// A record class lists its fields once, in a table of RecordField entries (see RecordField.h):
// the JSON key (always the field's name), how the value converts, whether it is optional, its
// default, and where it lives. Fields that are never stored are not in the table, unless the
// defaults list them (an `ignored` row: a default, nothing read or written). The fields
// themselves start zero, false or empty; the defaults live in the table only.
// From that table JSONRecord<Derived> gives every record:
//   - `initWithDictionary`: every field filled from the object, or from its default where the
//     key is absent or null (as if the defaults had been merged in by `transformWithDefaults`;
//     only the defaults used are built); a required field that is absent or null without a
//     default, or a value that doesn't convert, fails the whole construction with an error
//     naming the key path (e.g. profiles[0].schedules[2].sortIndex);
//   - `toDictionary`: an object with every stored field (empty optional fields left out);
//     `writeDictionary` writes its compact text straight from the fields, without building it;
//   - `mergeFromDictionary`: the fields whose keys are present take the object's values, every
//     other field keeps its own; all or nothing: on error the record is unchanged;
//   - `defaultValues`: the table's defaults, built afresh at each call (generated ones anew);
//   - `defaultInstance` and get-by-key (`valueForKey`).
// Keys that name no field are ignored and not written back.
//
// Records are plain values: public fields named as their keys, copied freely. They have no
// lock; whoever shares one serialises its use. Any thread.
#pragma once

#include <algorithm>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "App/Data/Preferences/RecordField.h"

namespace zelto {

class ZeltoBaseJSONModel {
 public:
  virtual ~ZeltoBaseJSONModel() = default;

  virtual nlohmann::json toDictionary() const = 0;
  // Appends the text of toDictionary() in compact form: the same bytes as its print. Throws the
  // JSON library's type error for text that isn't valid UTF-8.
  virtual void writeDictionary(JsonTextWriter& out) const = 0;
  virtual Status mergeFromDictionary(const nlohmann::json& input) = 0;
  // The class's defaults, in their JSON form, built afresh at each call.
  virtual nlohmann::json getDefaultValues() const = 0;
  virtual std::optional<nlohmann::json> valueForKey(const std::string& key) const = 0;

  // `input` with every key of `defaults` that is absent or null in it set to the default. A
  // value that is present stays, even when its type is wrong for the field. A failure only when
  // memory runs out; never throws.
  static Result<nlohmann::json> transformWithDefaults(const nlohmann::json& input,
                                                      const nlohmann::json& defaults);
};

// The mapping for one record class. Derived provides
//   static const std::vector<RecordField<Derived>>& fields();
template <typename Derived, typename Base = ZeltoBaseJSONModel>
class JSONRecord : public Base {
 public:
  // `path` is the key path of the record inside its file ("" at the top), for failure reasons.
  static Result<Derived> initWithDictionary(const nlohmann::json& input,
                                            const std::string& path = "") {
    try {
      return initOrThrow(input, path);
    } catch (const std::exception& e) {  // memory running out; a conversion is never to throw
      return Status::failure((path.empty() ? std::string("record") : path) + ": " + e.what());
    }
  }

  // The same for an object the caller gives up: large values are moved out of it, not copied.
  static Result<Derived> initWithDictionary(nlohmann::json&& input, const std::string& path = "") {
    try {
      return initOrThrow(input, path);
    } catch (const std::exception& e) {  // as above
      return Status::failure((path.empty() ? std::string("record") : path) + ": " + e.what());
    }
  }

  static Result<Derived> defaultInstance() { return initWithDictionary(nlohmann::json::object()); }

  // Every default of the table, keyed by field, in stored form.
  static nlohmann::json defaultValues() {
    nlohmann::json defaults = nlohmann::json::object();
    for (const auto& field : Derived::fields()) {
      if (field.byDefault.exists()) defaults[field.key] = field.byDefault.value();
    }
    return defaults;
  }

  nlohmann::json toDictionary() const override {
    nlohmann::json object = nlohmann::json::object();
    for (const auto& field : Derived::fields()) {
      if (field.ignored) continue;
      if (auto value = field.write(self())) object[field.key] = std::move(*value);
    }
    return object;
  }

  void writeDictionary(JsonTextWriter& out) const override {
    // An object prints its members in the order of their keys.
    static const std::vector<size_t> order = writeOrder();
    out.raw("{");
    bool first = true;
    for (size_t index : order) {
      const RecordField<Derived>& field = Derived::fields()[index];
      const size_t start = out.size();
      if (!first) out.raw(",");
      out.text(field.key);
      out.raw(":");
      bool written = false;
      if (field.writeText) {
        written = field.writeText(self(), out);
      } else if (auto value = field.write(self())) {
        out.value(*value);
        written = true;
      }
      if (written) {
        first = false;
      } else {
        out.truncate(start);
      }
    }
    out.raw("}");
  }

  Status mergeFromDictionary(const nlohmann::json& input) override {
    try {
      return mergeOrThrow(input);
    } catch (const std::exception& e) {  // as in initWithDictionary; the record is unchanged
      return Status::failure(std::string("record: ") + e.what());
    }
  }

  nlohmann::json getDefaultValues() const override { return defaultValues(); }

  std::optional<nlohmann::json> valueForKey(const std::string& key) const override {
    for (const auto& field : Derived::fields()) {
      if (field.key == key && !field.ignored) return field.write(self());
    }
    return std::nullopt;
  }

  // Whether `key` is listed in the table only for its default, never read nor written.
  static bool keyIsIgnored(const std::string& key) {
    for (const auto& field : Derived::fields()) {
      if (field.key == key) return field.ignored;
    }
    return false;
  }

 private:
  const Derived& self() const { return static_cast<const Derived&>(*this); }

  // The fields that are written, by key (of a key listed twice, the last row: it overwrote
  // the first in toDictionary).
  static std::vector<size_t> writeOrder() {
    const auto& table = Derived::fields();
    std::vector<size_t> order;
    for (size_t i = 0; i < table.size(); ++i) {
      if (!table[i].ignored) order.push_back(i);
    }
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return table[a].key < table[b].key; });
    std::vector<size_t> unique;
    for (size_t i = 0; i < order.size(); ++i) {
      if (i + 1 < order.size() && table[order[i]].key == table[order[i + 1]].key) continue;
      unique.push_back(order[i]);
    }
    return unique;
  }

  // From an `input` that isn't const, the values are taken (see RecordField::take).
  template <typename Input>
  static Result<Derived> initOrThrow(Input& input, const std::string& path) {
    if (!input.is_object()) {
      return Status::failure((path.empty() ? std::string("record") : path) +
                             ": expected an object");
    }
    // The same as reading transformWithDefaults(input, defaultValues()), without copying the
    // input or building defaults nobody reads: a default is made only for a field whose key is
    // absent or null.
    Derived record;
    for (const auto& field : Derived::fields()) {
      if (field.ignored) continue;
      std::string fieldPath = recordPath(path, field.key);
      auto it = input.find(field.key);
      if (it == input.end() || it->is_null()) {
        nlohmann::json byDefault = field.byDefault.exists() ? field.byDefault.value() : nullptr;
        if (!byDefault.is_null()) {
          Status read = field.take ? field.take(record, std::move(byDefault), fieldPath)
                                   : field.read(record, byDefault, fieldPath);
          if (!read.ok()) return read;
          continue;
        }
        if (field.optional) continue;
        return Status::failure(fieldPath + ": is required but missing");
      }
      Status read;
      if constexpr (!std::is_const_v<Input>) {
        read = field.take ? field.take(record, std::move(*it), fieldPath)
                          : field.read(record, *it, fieldPath);
      } else {
        read = field.read(record, *it, fieldPath);
      }
      if (!read.ok()) return read;
    }
    return record;
  }

  Status mergeOrThrow(const nlohmann::json& input) {
    if (!input.is_object()) return Status::failure("record: expected an object");
    Derived copy = self();
    for (const auto& field : Derived::fields()) {
      if (field.ignored) continue;
      auto it = input.find(field.key);
      if (it == input.end()) continue;
      if (it->is_null()) {
        // Null means absent: an optional field becomes empty, a required one keeps its value.
        if (field.optional) field.clear(copy);
        continue;
      }
      if (Status read = field.read(copy, *it, field.key); !read.ok()) return read;
    }
    static_cast<Derived&>(*this) = std::move(copy);
    return Status::success();
  }
};

}  // namespace zelto
