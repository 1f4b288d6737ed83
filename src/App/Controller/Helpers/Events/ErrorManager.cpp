#include "App/Controller/Helpers/Events/ErrorManager.h"

#include <nlohmann/json.hpp>

#include "App/Controller/Helpers/Events/EventTracker.h"
#include "Platform/NotificationCenter.h"

namespace zelto {

void ErrorManager::errorWithTitle(const std::string& title, const std::string& message) {
  showError(title, message, false);
}

void ErrorManager::errorWithTitle(const std::string& title, const Status& error) {
  errorWithTitle(title, error.message());
}

void ErrorManager::error(const std::string& message) { showError(kDefaultTitle, message, false); }

void ErrorManager::fatalError(const std::string& message) {
  showError(kDefaultTitle, message, true);
}

void ErrorManager::showError(const std::string& title, const std::string& message, bool fatal) {
  EventTracker::trackEvent("showError", {{"error", message}, {"title", title}, {"fatal", fatal}});
  NotificationCenter::defaultCenter().post(
      "ShowError", {}, {{"errorTitle", title}, {"errorMessage", message}, {"errorFatal", fatal}});
}

void ErrorManager::showErrorOnWindow(Alert::Window* window, const std::string& message) {
  showErrorOnWindow(window, kDefaultTitle, message);
}

void ErrorManager::showErrorOnWindow(Alert::Window* window, const std::string& title,
                                     const std::string& message) {
  EventTracker::trackEvent(
      "showError", {{"error", message}, {"title", title}, {"fatal", 0}, {"preferences", 1}});
  Alert::Content content;
  content.messageText = title;
  content.informativeText = message;
  content.buttons = {"Ok"};
  content.style = Alert::Style::kWarning;
  Alert::current().beginSheet(window, content, [](int /*button*/) {
    NotificationCenter::defaultCenter().post("ZeltoSendAppToBackground");
  });
}

}  // namespace zelto
