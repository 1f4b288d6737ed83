// EventTracker: the single door through which usage events leave the program.
//
// `trackEvent` writes one info line per event, "-> TYPE (key=value, key=value)" or "-> TYPE"
// when there are no properties, and then hands the type and the properties (an object, empty
// when there are none) to the process's event sink: the analytics client, unless replaced for a
// scope with ScopedSink. Values read in the line as the platform describes them: strings bare,
// numbers as numbers, booleans as 1 and 0, other values as compact JSON.
//
// Class operations only; the sink is the one process-wide state. Any thread: the sink is
// called on the caller's thread, without a lock held.
#pragma once

#include <functional>
#include <nlohmann/json.hpp>
#include <string>

namespace zelto {

class EventTracker {
 public:
  using Sink = std::function<void(const std::string& type, const nlohmann::json& properties)>;

  EventTracker() = delete;

  // Properties that are null (absent) or not an object count as none.
  static void trackEvent(const std::string& type, const nlohmann::json& properties);
  static void trackEvent(const std::string& type);

  // Replaces the sink while it lives; nests.
  class ScopedSink {
   public:
    explicit ScopedSink(Sink sink);
    ~ScopedSink();
    ScopedSink(const ScopedSink&) = delete;
    ScopedSink& operator=(const ScopedSink&) = delete;

   private:
    Sink previous_;
  };

 private:
  // The analytics client's sink, the default (EventTrackerAnalytics.cpp).
  static Sink analyticsSink();
};

}  // namespace zelto
