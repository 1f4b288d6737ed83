#include "App/Controller/Helpers/Events/EventTracker.h"

#include <fmt/format.h>

#include <mutex>
#include <utility>

#include "Platform/Log.h"

namespace zelto {

namespace {

std::mutex sinkMutex;

EventTracker::Sink& installedSink() {
  static EventTracker::Sink* sink = new EventTracker::Sink();
  return *sink;
}

std::string describe(const nlohmann::json& value) {
  switch (value.type()) {
    case nlohmann::json::value_t::string:
      return value.get_ref<const std::string&>();
    case nlohmann::json::value_t::boolean:
      return value.get<bool>() ? "1" : "0";
    case nlohmann::json::value_t::number_integer:
      return std::to_string(value.get<int64_t>());
    case nlohmann::json::value_t::number_unsigned:
      return std::to_string(value.get<uint64_t>());
    case nlohmann::json::value_t::number_float:
      return fmt::format("{}", value.get<double>());
    case nlohmann::json::value_t::null:
      return "<null>";
    default:
      return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  }
}

}  // namespace

void EventTracker::trackEvent(const std::string& type, const nlohmann::json& properties) {
  nlohmann::json copy = properties.is_object() ? properties : nlohmann::json::object();
  if (copy.empty()) {
    log::info("-> {}", type);
  } else {
    std::string joined;
    for (auto it = copy.begin(); it != copy.end(); ++it) {
      if (!joined.empty()) joined += ", ";
      joined += it.key() + "=" + describe(it.value());
    }
    log::info("-> {} ({})", type, joined);
  }

  Sink sink;
  {
    std::lock_guard<std::mutex> lock(sinkMutex);
    if (!installedSink()) installedSink() = analyticsSink();
    sink = installedSink();
  }
  if (sink) sink(type, copy);
}

void EventTracker::trackEvent(const std::string& type) {
  trackEvent(type, nlohmann::json::object());
}

EventTracker::ScopedSink::ScopedSink(Sink sink) {
  std::lock_guard<std::mutex> lock(sinkMutex);
  previous_ = std::exchange(installedSink(), std::move(sink));
}

EventTracker::ScopedSink::~ScopedSink() {
  std::lock_guard<std::mutex> lock(sinkMutex);
  installedSink() = std::move(previous_);
}

}  // namespace zelto
