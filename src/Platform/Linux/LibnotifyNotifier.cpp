#include "Platform/Linux/LibnotifyNotifier.h"

#include <dlfcn.h>
#include <libnotify/notify.h>
#include <sys/stat.h>

#include <cstdlib>

#include "Platform/DispatchQueue.h"
#include "Platform/Log.h"

namespace zelto {

namespace {

// The run-time name of libnotify (soname 4 since its 0.7 release).
constexpr const char* kLibraryName = "libnotify.so.4";

// The few functions used, resolved from the loaded library (GLib's and GObject's through it).
struct Libnotify {
  decltype(&::notify_init) init;
  decltype(&::notify_notification_new) notificationNew;
  decltype(&::notify_notification_show) show;
  decltype(&::g_object_unref) objectUnref;
  decltype(&::g_error_free) errorFree;
};

template <typename Function>
Status resolve(void* library, const char* name, Function& function) {
  function = reinterpret_cast<Function>(::dlsym(library, name));
  if (function != nullptr) return Status::success();
  return Status::unavailable(std::string(kLibraryName) + " has no " + name);
}

Result<const Libnotify*> openLibnotify() {
  void* library = ::dlopen(kLibraryName, RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    const char* why = ::dlerror();
    return Status::unavailable(why != nullptr ? why : std::string("cannot load ") + kLibraryName);
  }
  static Libnotify functions{};
  for (Status resolved : {resolve(library, "notify_init", functions.init),
                          resolve(library, "notify_notification_new", functions.notificationNew),
                          resolve(library, "notify_notification_show", functions.show),
                          resolve(library, "g_object_unref", functions.objectUnref),
                          resolve(library, "g_error_free", functions.errorFree)}) {
    if (!resolved.ok()) return resolved;
  }
  return &functions;
}

// The library, loaded once for the process and never unloaded; the same failure every time
// when it can't be loaded.
const Result<const Libnotify*>& loadLibnotify() {
  static const Result<const Libnotify*> loaded = openLibnotify();
  return loaded;
}

std::optional<std::string> processEnvironment(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

// The notification through libnotify, initialised for `applicationName` on first use. Called
// on the workers only.
Status showWithLibnotify(const std::string& applicationName, const std::string& title,
                         const std::string& body) {
  const Result<const Libnotify*>& loaded = loadLibnotify();
  if (!loaded.ok()) return loaded.status();
  const Libnotify* library = *loaded;
  static std::mutex initMutex;
  static bool initialised = false;
  {
    std::lock_guard lock(initMutex);
    if (!initialised && !(initialised = library->init(applicationName.c_str()))) {
      return Status::failure("notify_init failed");
    }
  }
  NotifyNotification* notification = library->notificationNew(title.c_str(), body.c_str(), nullptr);
  if (notification == nullptr) return Status::failure("it could not be made");
  GError* failure = nullptr;
  Status shown;
  if (!library->show(notification, &failure)) {
    shown = Status::failure(failure != nullptr ? failure->message
                                               : "the notification service refused it");
  }
  if (failure != nullptr) library->errorFree(failure);
  library->objectUnref(notification);
  return shown;
}

}  // namespace

// What the notifier shares with the notifications it handed to the blocking calls' queue; they
// keep it alive after the notifier.
struct LibnotifyNotifier::Worker {
  explicit Worker(Show show) : show(std::move(show)) {}

  const Show show;
  std::mutex mutex;
  size_t pending = 0;  // handed over, not yet taken to be shown (or dropped)
  bool stopping = false;

  void showNext(const std::string& title, const std::string& body) {
    {
      std::lock_guard lock(mutex);
      --pending;
      if (stopping) return;
    }
    if (Status shown = show(title, body); !shown.ok()) {
      log::debug("Notification \"{}\" not shown: {}", title, shown.message());
    }
  }
};

LibnotifyNotifier::LibnotifyNotifier(std::string applicationName)
    : LibnotifyNotifier(processEnvironment, [name = std::move(applicationName)](
                                                const std::string& title, const std::string& body) {
        return showWithLibnotify(name, title, body);
      }) {}

LibnotifyNotifier::LibnotifyNotifier(EnvironmentReader environment, Show show)
    : environment_(std::move(environment)), show_(std::move(show)) {}

LibnotifyNotifier::~LibnotifyNotifier() {
  std::lock_guard lock(mutex_);
  if (!worker_) return;
  std::lock_guard workerLock(worker_->mutex);
  worker_->stopping = true;  // what still waits is dropped
}

bool LibnotifyNotifier::hasSessionBus() const {
  if (auto address = environment_("DBUS_SESSION_BUS_ADDRESS"); address && !address->empty()) {
    return true;
  }
  auto runtime = environment_("XDG_RUNTIME_DIR");
  if (!runtime || !runtime->starts_with('/')) return false;
  struct stat status;
  return ::stat((*runtime + "/bus").c_str(), &status) == 0;
}

void LibnotifyNotifier::notify(const std::string& title, const std::string& body) {
  if (!hasSessionBus()) {
    log::debug("Notification \"{}\" not shown: no session bus", title);
    return;
  }
  std::lock_guard lock(mutex_);
  if (!worker_) worker_ = std::make_shared<Worker>(show_);
  {
    std::lock_guard workerLock(worker_->mutex);
    if (worker_->pending >= kMaxPending) {
      log::debug("Notification \"{}\" not shown: too many wait to be shown", title);
      return;
    }
    ++worker_->pending;
  }
  DispatchQueue::blocking().async(
      [worker = worker_, title, body] { worker->showNext(title, body); });
}

}  // namespace zelto
