// The default event sink: the process's analytics client.
#include "App/Analytics/Amplitude.h"
#include "App/Controller/Helpers/Events/EventTracker.h"

namespace zelto {

EventTracker::Sink EventTracker::analyticsSink() {
  return [](const std::string& type, const nlohmann::json& properties) {
    Amplitude::instance().logEvent(nlohmann::json(type), properties);
  };
}

}  // namespace zelto
