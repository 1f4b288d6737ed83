// LastGoodConfiguration: a private copy of the last configuration a program of this user could
// use, kept outside the configuration folder, for when the configuration file can't be used.
//
// Every successful load, reload or save of a record from or to its file remembers it here: the
// file's bytes as read or saved (written atomically, mode 0600, only when they differ from what
// is there). An unchanged copy costs one stat and a digest: this process knows what it last
// wrote or found there. When the file
// can't be read or parsed, or is gone, a program that is starting takes the copy instead of
// starting from defaults, so that a broken, unreadable or deleted file plus one restart doesn't
// end a running block. Only when there is neither a file nor a copy (a first start) do the
// defaults apply. The copy is never written back by itself: it reaches the file with the next
// save of the record.
//
// The copy of namespace N is N + ".cfg" in the "LastGood" folder of the user's state
// directory, which no "ConfigurationDir" setting moves.
//
// Class operations only; any thread.
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "Platform/Status.h"

namespace zelto {

class LastGoodConfiguration {
 public:
  // Where the copy of `configNamespace` is; nothing when the user's home is unknown.
  static std::optional<std::string> pathFor(const std::string& configNamespace);

  // Keeps `bytes` (a configuration file that was loaded whole, or a record as it was saved) as
  // the copy. A failure is logged, never passed on: the copy is a spare, and the load or save
  // it follows has succeeded.
  static void remember(const std::string& configNamespace, const std::string& bytes);

  // The copy's object; a not-found failure when there is no copy (or the user's home is
  // unknown); another failure when it can't be used.
  static Result<nlohmann::json> recall(const std::string& configNamespace);
};

}  // namespace zelto
