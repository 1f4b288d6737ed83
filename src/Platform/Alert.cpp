#include "Platform/Alert.h"

#include <mutex>

#include "Platform/HeadlessAlert.h"

namespace zelto {

namespace {

std::mutex overrideMutex;
Alert* overridden = nullptr;

}  // namespace

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
