// HeadlessAlert: the alert presenter of a process without a user interface.
//
// Nobody could see or answer an alert, so it is written to the log at warning level (its
// message and informative texts) and ends at once, without a button, before `beginSheet`
// returns. Stateless; any thread.
#pragma once

#include "Platform/Alert.h"

namespace zelto {

class HeadlessAlert final : public Alert {
 public:
  void beginSheet(Window* window, const Content& content, Completion completion) override;
};

}  // namespace zelto
