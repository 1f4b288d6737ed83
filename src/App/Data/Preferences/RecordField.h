// RecordField: one row of a record class's field table, and the factories that make rows.
//
// A row knows its JSON key, whether the field is optional, its default (see FieldDefault; the
// table is the only place a default is written) and three operations on a record of class R:
// read (a JSON value that is not null, converted into the field; a failure's reason starts with
// the key path), write (the field's JSON form, or nothing to leave the key out) and clear
// (empty an optional field). Rows of fields that hold large values also `take` (read, moving
// the value out of an object the reader owns) and `writeText` (append the field's JSON text,
// without building its value first). The factories cover every kind a record uses:
//   text, flag, int32, int64, uint64, real, number (kept as written), date, object and list
//   (taken and written unchanged), a nested record, a list of nested records, `custom` for a
//   field with its own reading and writing conversions, and `ignored` for a key that has a
//   default but is never read or written.
// Optional variants hold std::optional values. Each factory takes the default last; without it
// the field has none.
//
// Stateless; any thread.
#pragma once

#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "App/Data/Preferences/FieldDefault.h"
#include "App/Data/Preferences/JSONValues.h"
#include "Platform/Date.h"
#include "Platform/JsonTextWriter.h"
#include "Platform/Status.h"

namespace zelto {

template <typename R>
struct RecordField {
  std::string key;
  bool optional = false;
  std::function<Status(R&, const nlohmann::json&, const std::string& path)> read{};
  std::function<std::optional<nlohmann::json>(const R&)> write{};
  std::function<void(R&)> clear = [](R&) {};
  FieldDefault byDefault;
  // When set: `read` of a value the caller gives up (left valid but unspecified).
  std::function<Status(R&, nlohmann::json&&, const std::string& path)> take{};
  // When set: appends the text `write` gives, serialized (see JsonTextWriter); false, nothing
  // appended, to leave the key out.
  std::function<bool(const R&, JsonTextWriter&)> writeText{};
  // A key that only has a default: never read, never written (read and write are empty).
  bool ignored = false;
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
RecordField<R> required(const char* key, T R::*member, Result<T> (*convert)(const nlohmann::json&),
                        FieldDefault byDefault) {
  return {
      .key = key,
      .optional = false,
      .read = [member, convert](
                  R& r, const nlohmann::json& v,
                  const std::string& path) { return assign(r.*member, convert(v), path); },
      .write = [member](const R& r) -> std::optional<nlohmann::json> { return toJson(r.*member); },
      .byDefault = std::move(byDefault)};
}

template <typename R, typename T>
RecordField<R> optional(const char* key, std::optional<T> R::*member,
                        Result<T> (*convert)(const nlohmann::json&), FieldDefault byDefault) {
  return {.key = key,
          .optional = true,
          .read =
              [member, convert](R& r, const nlohmann::json& v, const std::string& path) {
                T value{};
                Status assigned = assign(value, convert(v), path);
                if (assigned.ok()) r.*member = std::move(value);
                return assigned;
              },
          .write = [member](const R& r) -> std::optional<nlohmann::json> {
            if (!(r.*member)) return std::nullopt;
            return toJson(*(r.*member));
          },
          .clear = [member](R& r) { (r.*member).reset(); },
          .byDefault = std::move(byDefault)};
}

// `field` (a value taken and written unchanged, held in `member`) with the rows that spare its
// copies: taken by moving when it has the kind `is`, and written where it is held.
template <typename R>
RecordField<R> unchanged(RecordField<R> field, nlohmann::json R::*member,
                         bool (nlohmann::json::*is)() const noexcept, const char* expected) {
  field.take = [member, is, expected](R& r, nlohmann::json&& v, const std::string& path) {
    if (!(v.*is)()) return Status::failure(expected).withContext(path);
    r.*member = std::move(v);
    return Status::success();
  };
  field.writeText = [member](const R& r, JsonTextWriter& out) {
    out.value(r.*member);
    return true;
  };
  return field;
}

}  // namespace detail

template <typename R>
RecordField<R> text(const char* key, std::string R::*member, FieldDefault byDefault = {}) {
  return detail::required(key, member, &JSONValues::toText, std::move(byDefault));
}
template <typename R>
RecordField<R> text(const char* key, std::optional<std::string> R::*member,
                    FieldDefault byDefault = {}) {
  return detail::optional(key, member, &JSONValues::toText, std::move(byDefault));
}
template <typename R>
RecordField<R> flag(const char* key, bool R::*member, FieldDefault byDefault = {}) {
  return detail::required(key, member, &JSONValues::toFlag, std::move(byDefault));
}
template <typename R>
RecordField<R> flag(const char* key, std::optional<bool> R::*member, FieldDefault byDefault = {}) {
  return detail::optional(key, member, &JSONValues::toFlag, std::move(byDefault));
}
template <typename R>
RecordField<R> int32(const char* key, int32_t R::*member, FieldDefault byDefault = {}) {
  return detail::required(key, member, &JSONValues::toInt32, std::move(byDefault));
}
template <typename R>
RecordField<R> int64(const char* key, int64_t R::*member, FieldDefault byDefault = {}) {
  return detail::required(key, member, &JSONValues::toInt64, std::move(byDefault));
}
template <typename R>
RecordField<R> uint64(const char* key, uint64_t R::*member, FieldDefault byDefault = {}) {
  return detail::required(key, member, &JSONValues::toUInt64, std::move(byDefault));
}
template <typename R>
RecordField<R> real(const char* key, double R::*member, FieldDefault byDefault = {}) {
  return detail::required(key, member, &JSONValues::toDouble, std::move(byDefault));
}
// A number object: kept exactly as written (integer or not), so that no value differs from 0.
template <typename R>
RecordField<R> number(const char* key, nlohmann::json R::*member, FieldDefault byDefault = {}) {
  return detail::required(key, member, &JSONValues::toNumber, std::move(byDefault));
}
template <typename R>
RecordField<R> number(const char* key, std::optional<nlohmann::json> R::*member,
                      FieldDefault byDefault = {}) {
  return detail::optional(key, member, &JSONValues::toNumber, std::move(byDefault));
}
// A date; its default is given in stored form (a date text), as the defaults table holds it.
template <typename R>
RecordField<R> date(const char* key, Date R::*member, FieldDefault byDefault = {}) {
  return detail::required(key, member, &JSONValues::toDate, std::move(byDefault));
}
template <typename R>
RecordField<R> date(const char* key, std::optional<Date> R::*member, FieldDefault byDefault = {}) {
  return detail::optional(key, member, &JSONValues::toDate, std::move(byDefault));
}
// A plain dictionary, taken and written unchanged.
template <typename R>
RecordField<R> object(const char* key, nlohmann::json R::*member, FieldDefault byDefault = {}) {
  return detail::unchanged(
      detail::required(key, member, &JSONValues::toObject, std::move(byDefault)), member,
      &nlohmann::json::is_object, "expected an object");
}
// A plain list, taken and written unchanged; its elements are not interpreted.
template <typename R>
RecordField<R> list(const char* key, nlohmann::json R::*member, FieldDefault byDefault = {}) {
  return detail::unchanged(
      detail::required(key, member, &JSONValues::toArray, std::move(byDefault)), member,
      &nlohmann::json::is_array, "expected a list");
}

// One nested record of class N, built through N's own construction (so with N's defaults); its
// default is given in stored form ({} for a record of N's defaults).
template <typename R, typename N>
RecordField<R> record(const char* key, N R::*member, FieldDefault byDefault = {}) {
  return {.key = key,
          .optional = false,
          .read =
              [member](R& r, const nlohmann::json& v, const std::string& path) {
                Result<N> nested = N::initWithDictionary(v, path);
                if (!nested.ok()) return nested.status();
                r.*member = std::move(nested).value();
                return Status::success();
              },
          .write = [member](const R& r) -> std::optional<nlohmann::json> {
            return (r.*member).toDictionary();
          },
          .byDefault = std::move(byDefault),
          .take =
              [member](R& r, nlohmann::json&& v, const std::string& path) {
                Result<N> nested = N::initWithDictionary(std::move(v), path);
                if (!nested.ok()) return nested.status();
                r.*member = std::move(nested).value();
                return Status::success();
              },
          .writeText =
              [member](const R& r, JsonTextWriter& out) {
                (r.*member).writeDictionary(out);
                return true;
              }};
}

// A list of nested records of class N, each element built through N's own construction.
template <typename R, typename N>
RecordField<R> records(const char* key, std::vector<N> R::*member, FieldDefault byDefault = {}) {
  return {.key = key,
          .optional = false,
          .read =
              [member](R& r, const nlohmann::json& v, const std::string& path) {
                if (!v.is_array()) return Status::failure(path + ": expected a list");
                std::vector<N> items;
                items.reserve(v.size());
                for (size_t i = 0; i < v.size(); ++i) {
                  Result<N> item =
                      N::initWithDictionary(v[i], path + "[" + std::to_string(i) + "]");
                  if (!item.ok()) return item.status();
                  items.push_back(std::move(item).value());
                }
                r.*member = std::move(items);
                return Status::success();
              },
          .write = [member](const R& r) -> std::optional<nlohmann::json> {
            nlohmann::json array = nlohmann::json::array();
            for (const auto& item : r.*member) array.push_back(item.toDictionary());
            return array;
          },
          .byDefault = std::move(byDefault),
          .take =
              [member](R& r, nlohmann::json&& v, const std::string& path) {
                if (!v.is_array()) return Status::failure(path + ": expected a list");
                std::vector<N> items;
                items.reserve(v.size());
                for (size_t i = 0; i < v.size(); ++i) {
                  Result<N> item =
                      N::initWithDictionary(std::move(v[i]), path + "[" + std::to_string(i) + "]");
                  if (!item.ok()) return item.status();
                  items.push_back(std::move(item).value());
                }
                r.*member = std::move(items);
                return Status::success();
              },
          .writeText =
              [member](const R& r, JsonTextWriter& out) {
                out.raw("[");
                bool first = true;
                for (const auto& item : r.*member) {
                  if (!first) out.raw(",");
                  first = false;
                  item.writeDictionary(out);
                }
                out.raw("]");
                return true;
              }};
}

// A field with its own conversions: `read` gets the raw JSON value of the key (never null) and
// its key path, and fails with the reason when it can't use the value; `write` gives what is
// stored under the key.
template <typename R>
RecordField<R> custom(const char* key,
                      std::function<Status(R&, const nlohmann::json&, const std::string&)> read,
                      std::function<nlohmann::json(const R&)> write, FieldDefault byDefault = {}) {
  return {.key = key,
          .optional = false,
          .read = std::move(read),
          .write = [write = std::move(write)](const R& r) -> std::optional<nlohmann::json> {
            return write(r);
          },
          .byDefault = std::move(byDefault)};
}

// A key that is listed among the defaults but lives in memory only: never read from a file nor
// written to one.
template <typename R>
RecordField<R> ignored(const char* key, FieldDefault byDefault) {
  return {.key = key, .byDefault = std::move(byDefault), .ignored = true};
}

}  // namespace fields
}  // namespace zelto
