#include "Platform/HeadlessAlert.h"

#include "Platform/Log.h"

namespace zelto {

void HeadlessAlert::beginSheet(Window* /*window*/, const Content& content, Completion completion) {
  log::warning("Alert: {}: {}", content.messageText, content.informativeText);
  if (completion) completion(-1);
}

}  // namespace zelto
