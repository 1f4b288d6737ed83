// ErrorManager: the single door for reporting an error to the user.
//
// Every report first tracks a "showError" usage event (EventTracker). `showError` then posts
// "ShowError" on the default notification centre, with userInfo "errorTitle", "errorMessage" and
// "errorFatal" (a boolean), for whatever user interface listens; `showErrorOnWindow` instead
// shows a warning alert with one "Ok" button on the window (Alert::current()) and, when the
// alert ends, posts "ZeltoSendAppToBackground". The fatal flag only travels with the event and
// the notification: nothing stops or changes because of it. The title defaults to
// "An error occurred".
//
// Class operations only, no state. Threads: the caller's; `showErrorOnWindow` on the main
// thread, as user-interface work wants.
#pragma once

#include <string>

#include "Platform/Alert.h"
#include "Platform/Status.h"

namespace zelto {

class ErrorManager {
 public:
  static constexpr const char* kDefaultTitle = "An error occurred";

  ErrorManager() = delete;

  // showError with fatal false.
  static void errorWithTitle(const std::string& title, const std::string& message);
  // errorWithTitle with the failure's reason as the message.
  static void errorWithTitle(const std::string& title, const Status& error);
  // showError with the default title, fatal false.
  static void error(const std::string& message);
  // showError with the default title, fatal true.
  static void fatalError(const std::string& message);
  static void showError(const std::string& title, const std::string& message, bool fatal);

  // showErrorOnWindow with the default title. `window` may be null (no user interface).
  static void showErrorOnWindow(Alert::Window* window, const std::string& message);
  static void showErrorOnWindow(Alert::Window* window, const std::string& title,
                                const std::string& message);
};

}  // namespace zelto
