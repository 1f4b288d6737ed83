// RecordField: one row of a record class's field table, and the factories that make rows.
//
// A row knows its JSON key, whether the field is optional, and three operations on a record
// of class R: read (a JSON value that is not null, converted into the field; a failure's
// reason starts with the key path), write (the field's JSON form, or nothing to leave the key
// out) and clear (empty an optional field). The factories cover every kind a record uses:
//   text, flag, int32, int64, uint64, real, number (kept as written), date, object and list
//   (taken and written unchanged), a nested record, a list of nested records, and
//   `custom` for a field with its own reading and writing conversions.
// Optional variants hold std::optional values.
//
// Stateless; any thread.
#pragma once

#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "App/Data/Preferences/JSONValues.h"
#include "Platform/Date.h"
#include "Platform/Status.h"

namespace zelto {

template <typename R>
struct RecordField {
  std::string key;
  bool optional = false;
  std::function<Status(R&, const nlohmann::json&, const std::string& path)> read;
  std::function<std::optional<nlohmann::json>(const R&)> write;
  std::function<void(R&)> clear = [](R&) {};
};

// "a.b" for a field b of the record at path a; the key alone at the top.
inline std::string recordPath(const std::string& path, const std::string& key) {
  return path.empty() ? key : path + "." + key;
}

namespace fields {

namespace detail {

template <typename T>
Status assign(T& target, Result<T> converted, const std::string& path) {
  if (!converted.ok()) return converted.status().withContext(path);
  target = std::move(converted).value();
  return Status::success();
}

template <typename T>
nlohmann::json toJson(const T& value) {
  if constexpr (std::is_same_v<T, Date>) {
    return JSONValues::formatDate(value);
  } else {
    return nlohmann::json(value);
  }
}

template <typename R, typename T>
RecordField<R> required(const char* key, T R::*member,
                        Result<T> (*convert)(const nlohmann::json&)) {
  return {key, false,
          [member, convert](R& r, const nlohmann::json& v, const std::string& path) {
            return assign(r.*member, convert(v), path);
          },
          [member](const R& r) -> std::optional<nlohmann::json> { return toJson(r.*member); }};
}

template <typename R, typename T>
RecordField<R> optional(const char* key, std::optional<T> R::*member,
                        Result<T> (*convert)(const nlohmann::json&)) {
  return {key, true,
          [member, convert](R& r, const nlohmann::json& v, const std::string& path) {
            T value{};
            Status assigned = assign(value, convert(v), path);
            if (assigned.ok()) r.*member = std::move(value);
            return assigned;
          },
          [member](const R& r) -> std::optional<nlohmann::json> {
            if (!(r.*member)) return std::nullopt;
            return toJson(*(r.*member));
          },
          [member](R& r) { (r.*member).reset(); }};
}

}  // namespace detail

template <typename R>
RecordField<R> text(const char* key, std::string R::*member) {
  return detail::required(key, member, &JSONValues::toText);
}
template <typename R>
RecordField<R> text(const char* key, std::optional<std::string> R::*member) {
  return detail::optional(key, member, &JSONValues::toText);
}
template <typename R>
RecordField<R> flag(const char* key, bool R::*member) {
  return detail::required(key, member, &JSONValues::toFlag);
}
template <typename R>
RecordField<R> flag(const char* key, std::optional<bool> R::*member) {
  return detail::optional(key, member, &JSONValues::toFlag);
}
template <typename R>
RecordField<R> int32(const char* key, int32_t R::*member) {
  return detail::required(key, member, &JSONValues::toInt32);
}
template <typename R>
RecordField<R> int64(const char* key, int64_t R::*member) {
  return detail::required(key, member, &JSONValues::toInt64);
}
template <typename R>
RecordField<R> uint64(const char* key, uint64_t R::*member) {
  return detail::required(key, member, &JSONValues::toUInt64);
}
template <typename R>
RecordField<R> real(const char* key, double R::*member) {
  return detail::required(key, member, &JSONValues::toDouble);
}
// A number object: kept exactly as written (integer or not), so that no value differs from 0.
template <typename R>
RecordField<R> number(const char* key, nlohmann::json R::*member) {
  return detail::required(key, member, &JSONValues::toNumber);
}
template <typename R>
RecordField<R> number(const char* key, std::optional<nlohmann::json> R::*member) {
  return detail::optional(key, member, &JSONValues::toNumber);
}
template <typename R>
RecordField<R> date(const char* key, Date R::*member) {
  return detail::required(key, member, &JSONValues::toDate);
}
template <typename R>
RecordField<R> date(const char* key, std::optional<Date> R::*member) {
  return detail::optional(key, member, &JSONValues::toDate);
}
// A plain dictionary, taken and written unchanged.
template <typename R>
RecordField<R> object(const char* key, nlohmann::json R::*member) {
  return detail::required(key, member, &JSONValues::toObject);
}
// A plain list, taken and written unchanged; its elements are not interpreted.
template <typename R>
RecordField<R> list(const char* key, nlohmann::json R::*member) {
  return detail::required(key, member, &JSONValues::toArray);
}

// One nested record of class N, built through N's own construction (so with N's defaults).
template <typename R, typename N>
RecordField<R> record(const char* key, N R::*member) {
  return {
      key, false,
      [member](R& r, const nlohmann::json& v, const std::string& path) {
        Result<N> nested = N::initWithDictionary(v, path);
        if (!nested.ok()) return nested.status();
        r.*member = std::move(nested).value();
        return Status::success();
      },
      [member](const R& r) -> std::optional<nlohmann::json> { return (r.*member).toDictionary(); }};
}

// A list of nested records of class N, each element built through N's own construction.
template <typename R, typename N>
RecordField<R> records(const char* key, std::vector<N> R::*member) {
  return {key, false,
          [member](R& r, const nlohmann::json& v, const std::string& path) {
            if (!v.is_array()) return Status::failure(path + ": expected a list");
            std::vector<N> items;
            items.reserve(v.size());
            for (size_t i = 0; i < v.size(); ++i) {
              Result<N> item = N::initWithDictionary(v[i], path + "[" + std::to_string(i) + "]");
              if (!item.ok()) return item.status();
              items.push_back(std::move(item).value());
            }
            r.*member = std::move(items);
            return Status::success();
          },
          [member](const R& r) -> std::optional<nlohmann::json> {
            nlohmann::json array = nlohmann::json::array();
            for (const auto& item : r.*member) array.push_back(item.toDictionary());
            return array;
          }};
}

// A field with its own conversions: `read` gets the raw JSON value of the key (never null) and
// its key path, and fails with the reason when it can't use the value; `write` gives what is
// stored under the key.
template <typename R>
RecordField<R> custom(const char* key,
                      std::function<Status(R&, const nlohmann::json&, const std::string&)> read,
                      std::function<nlohmann::json(const R&)> write) {
  return {
      key, false, std::move(read),
      [write = std::move(write)](const R& r) -> std::optional<nlohmann::json> { return write(r); }};
}

}  // namespace fields
}  // namespace zelto
