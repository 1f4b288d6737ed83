#include "Platform/Linux/LibnotifyNotifier.h"

#include <dlfcn.h>
#include <libnotify/notify.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string_view>
#include <thread>
#include <utility>

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
  decltype(&::notify_get_server_caps) serverCaps;
  decltype(&::notify_notification_add_action) addAction;
  decltype(&::g_signal_connect_data) signalConnect;
  decltype(&::g_object_unref) objectUnref;
  decltype(&::g_error_free) errorFree;
  decltype(&::g_list_free_full) listFreeFull;
  decltype(&::g_free) free;
  decltype(&::g_main_loop_new) loopNew;
  decltype(&::g_main_loop_run) loopRun;
  decltype(&::g_main_loop_quit) loopQuit;
  decltype(&::g_main_loop_unref) loopUnref;
  decltype(&::g_timeout_add_seconds) timeoutAdd;
  decltype(&::g_idle_add) idleAdd;
  decltype(&::g_source_remove) sourceRemove;
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
  for (Status resolved : {
           resolve(library, "notify_init", functions.init),
           resolve(library, "notify_notification_new", functions.notificationNew),
           resolve(library, "notify_notification_show", functions.show),
           resolve(library, "notify_get_server_caps", functions.serverCaps),
           resolve(library, "notify_notification_add_action", functions.addAction),
           resolve(library, "g_signal_connect_data", functions.signalConnect),
           resolve(library, "g_object_unref", functions.objectUnref),
           resolve(library, "g_error_free", functions.errorFree),
           resolve(library, "g_list_free_full", functions.listFreeFull),
           resolve(library, "g_free", functions.free),
           resolve(library, "g_main_loop_new", functions.loopNew),
           resolve(library, "g_main_loop_run", functions.loopRun),
           resolve(library, "g_main_loop_quit", functions.loopQuit),
           resolve(library, "g_main_loop_unref", functions.loopUnref),
           resolve(library, "g_timeout_add_seconds", functions.timeoutAdd),
           resolve(library, "g_idle_add", functions.idleAdd),
           resolve(library, "g_source_remove", functions.sourceRemove),
       }) {
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

// The GLib main loop that delivers the clicks on the notifications that offer an action: it runs
// on a thread of its own (GLib's default context, where libnotify's D-Bus proxy signals) while
// one is open, and ends with the last. Opened on the blocking calls' queue; closed on the loop's
// thread, which is where each notification's signals and time-out arrive.
struct ActionLoop {
  std::mutex mutex;
  size_t open = 0;
  GMainLoop* loop = nullptr;  // the running one, or none

  static ActionLoop& shared() {
    static ActionLoop* actions = new ActionLoop;  // threads may use it until the process ends
    return *actions;
  }

  void opened(const Libnotify* library) {
    std::lock_guard lock(mutex);
    ++open;
    if (loop != nullptr) return;
    loop = library->loopNew(nullptr, false);
    // A loop that has just been told to end may still hold the context: this one waits for it.
    std::thread([library, running = loop] {
      library->loopRun(running);
      library->loopUnref(running);
    }).detach();
  }

  void closed(const Libnotify* library) {
    std::lock_guard lock(mutex);
    if (--open > 0) return;
    library->loopQuit(loop);
    loop = nullptr;
  }
};

// A shown notification offering its action, until it closes or has offered it long enough.
struct Offer {
  const Libnotify* library;
  NotifyNotification* notification;  // a reference of its own
  LibnotifyNotifier::Action action;
  guint timeout = 0;
  bool ending = false;

  static void clicked(NotifyNotification*, char*, gpointer data) {
    static_cast<Offer*>(data)->action.run();
  }
  static void closed(NotifyNotification*, gpointer data) { static_cast<Offer*>(data)->end(); }
  static gboolean expired(gpointer data) {
    auto* offer = static_cast<Offer*>(data);
    offer->timeout = 0;  // removed by returning false
    offer->end();
    return false;
  }
  // Ended on the next turn of the loop, outside the signal that tells it.
  void end() {
    if (std::exchange(ending, true)) return;
    library->idleAdd(
        [](gpointer data) -> gboolean {
          auto* offer = static_cast<Offer*>(data);
          if (offer->timeout != 0) offer->library->sourceRemove(offer->timeout);
          offer->library->objectUnref(offer->notification);
          const Libnotify* library = offer->library;
          delete offer;
          ActionLoop::shared().closed(library);
          return false;
        },
        this);
  }
};

bool serverHasActions(const Libnotify* library) {
  GList* caps = library->serverCaps();
  bool actions = false;
  for (GList* cap = caps; cap != nullptr; cap = cap->next) {
    actions = actions || std::string_view(static_cast<const char*>(cap->data)) == "actions";
  }
  library->listFreeFull(caps, library->free);
  return actions;
}

// The notification through libnotify, initialised for `applicationName` on first use. Called
// on the workers only.
Status showWithLibnotify(const std::string& applicationName, const std::string& title,
                         const std::string& body, const LibnotifyNotifier::Action& action) {
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
  Offer* offer = nullptr;
  if (action.run && serverHasActions(library)) {
    offer = new Offer{library, notification, action};
    library->addAction(notification, "default", action.label.c_str(), &Offer::clicked, offer,
                       nullptr);
    library->signalConnect(notification, "closed", G_CALLBACK(&Offer::closed), offer, nullptr,
                           GConnectFlags(0));
  }
  GError* failure = nullptr;
  Status shown;
  if (!library->show(notification, &failure)) {
    shown = Status::failure(failure != nullptr ? failure->message
                                               : "the notification service refused it");
  }
  if (failure != nullptr) library->errorFree(failure);
  if (offer == nullptr || !shown.ok()) {
    library->objectUnref(notification);  // its signals go with it
    delete offer;
    return shown;
  }
  // The reference passes to the offer, which the action loop ends.
  offer->timeout = library->timeoutAdd(
      std::chrono::seconds(LibnotifyNotifier::kActionOffered).count(), &Offer::expired, offer);
  ActionLoop::shared().opened(library);
  return shown;
}

}  // namespace

// What the notifier shares with the notifications it handed to the blocking calls' queue; they
// keep it alive after the notifier.
struct LibnotifyNotifier::Worker : std::enable_shared_from_this<Worker> {
  Worker(Show show, Action action) : show(std::move(show)), action(std::move(action)) {}

  const Show show;
  const Action action;
  std::mutex mutex;
  size_t pending = 0;  // handed over, not yet taken to be shown (or dropped)
  bool stopping = false;
  std::mutex actionMutex;  // held while an action runs, and to end them
  bool actionsEnded = false;

  void showNext(const std::string& title, const std::string& body) {
    {
      std::lock_guard lock(mutex);
      --pending;
      if (stopping) return;
    }
    Action offered{action.label, nullptr};
    if (action.run) {
      // A click after the notifier's end does nothing; the end waits for a click in progress.
      offered.run = [weak = weak_from_this()] {
        auto self = weak.lock();
        if (!self) return;
        std::lock_guard lock(self->actionMutex);
        if (!self->actionsEnded) self->action.run();
      };
    }
    if (Status shown = show(title, body, offered); !shown.ok()) {
      log::debug("Notification \"{}\" not shown: {}", title, shown.message());
    }
  }
};

LibnotifyNotifier::LibnotifyNotifier(std::string applicationName, Action action)
    : LibnotifyNotifier(
          processEnvironment,
          [name = std::move(applicationName)](const std::string& title, const std::string& body,
                                              const Action& offered) {
            return showWithLibnotify(name, title, body, offered);
          },
          std::move(action)) {}

LibnotifyNotifier::LibnotifyNotifier(EnvironmentReader environment, Show show, Action action)
    : environment_(std::move(environment)), show_(std::move(show)), action_(std::move(action)) {}

LibnotifyNotifier::~LibnotifyNotifier() {
  std::lock_guard lock(mutex_);
  if (!worker_) return;
  {
    std::lock_guard workerLock(worker_->mutex);
    worker_->stopping = true;  // what still waits is dropped
  }
  std::lock_guard actionLock(worker_->actionMutex);  // a click in progress ends first
  worker_->actionsEnded = true;
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
  if (!worker_) worker_ = std::make_shared<Worker>(show_, action_);
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
