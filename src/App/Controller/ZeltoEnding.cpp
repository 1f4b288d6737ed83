// Whether a running blocking period ends on its own, and whether hardcore mode lets the user
// end it early.
#include "App/Controller/Zelto.h"
#include "Platform/Log.h"

namespace zelto {

bool Zelto::shouldUnzelto() {
  const ZeltoPreferences& p = current();
  if (p.disableEagerUnzelto) return false;
  if (!isZeltoing) return false;
  if (shouldStartTimer) return false;
  if (isTimeBlocked()) return false;
  if (isScheduleBlocked()) return false;
  // A timer or schedule period whose time has run out ends on its own; a period the user
  // started by hand never does.
  if (!isNormal()) return true;
  return !current().isUserInitiated.value_or(false);
}

bool Zelto::canHardcoreUnzelto() {
  const ZeltoPreferences& p = current();
  if (!p.zeltoHardcoreMode) return true;
  if (isScheduleBlocked()) return false;
  if (!isTimeBlocked()) return true;
  if (current().zeltoMustCompleteSession) return false;
  log::info("canHardcoreUnzelto because !zeltoMustCompleteSession");
  return true;
}

}  // namespace zelto
