#include "MainApp/GuardHandOver.h"

#include "App/Controller/BlockingPhase.h"
#include "App/Data/Preferences/JSONValues.h"
#include "App/Guard/GuardClient.h"
#include "Platform/DispatchQueue.h"
#include "Platform/Log.h"

namespace zelto {

void GuardHandOver::follow(Zelto& zelto, int proxyPort) {
  const BlockingPhase phase = BlockingPhase::of(zelto);
  ZeltoPreferences* prefs = zelto.prefs();
  const ProfileZeltoPreferences* profile = prefs != nullptr ? prefs->defaultProfile() : nullptr;
  if (!phase.locked || !phase.endsAt || profile == nullptr) return;
  GuardLock lock = GuardLock::ofProfile(*profile, *phase.endsAt, proxyPort);
  if (handed_ == lock) return;
  handed_ = lock;
  // The loop outlives this object; the object itself may be gone by the time the answer comes.
  DispatchQueue::blocking().async([&loop = loop_, this, alive = alive_, lock = std::move(lock)] {
    auto answer = GuardClient::lock(lock);
    loop.post([this, alive, answer = std::move(answer), end = lock.end] {
      if (!*alive) return;
      if (!answer.ok()) {
        if (answer.status().kind() != Status::Kind::kUnavailable) {
          log::warning("Can't hand the locked period to the system guard: {}",
                       answer.status().message());
        } else if (!std::exchange(toldAbsent_, true)) {
          log::info("No system guard runs: the locked period holds through Zelto alone");
        }
        return;
      }
      if ((*answer)["ok"] == true) {
        log::info("The system guard holds the locked period until {}", JSONValues::formatDate(end));
      } else {
        log::info("The system guard kept its own lock: {}",
                  answer->value("error", std::string("no reason given")));
      }
    });
  });
}

}  // namespace zelto
