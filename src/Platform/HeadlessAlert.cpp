#include "Platform/HeadlessAlert.h"

#include <mutex>

#include "Platform/Log.h"

namespace zelto {

namespace {

std::mutex overrideMutex;
Alert* overridden = nullptr;

}  // namespace

void HeadlessAlert::beginSheet(Window* /*window*/, const Content& content, Completion completion) {
  log::warning("Alert: {}: {}", content.messageText, content.informativeText);
  if (completion) completion(-1);
}

Alert& Alert::current() {
  static HeadlessAlert* headless = new HeadlessAlert();
  std::lock_guard<std::mutex> lock(overrideMutex);
  return overridden ? *overridden : *headless;
}

Alert::ScopedOverride::ScopedOverride(Alert& alert) {
  std::lock_guard<std::mutex> lock(overrideMutex);
  previous_ = overridden;
  overridden = &alert;
}

Alert::ScopedOverride::~ScopedOverride() {
  std::lock_guard<std::mutex> lock(overrideMutex);
  overridden = previous_;
}

}  // namespace zelto
