// FixedClock: a clock that always reads one moment. For answering "what if it were then"
// questions (zeltoctl --now): the controller decides as if that moment had come.
//
// Thread safety: any thread (the moment never changes).
#pragma once

#include "Platform/Clock.h"

namespace zelto {

class FixedClock final : public Clock {
 public:
  explicit FixedClock(Date moment) : moment_(moment) {}

  Date now() const override { return moment_; }
  double monotonicSeconds() const override { return 0; }

 private:
  Date moment_;
};

}  // namespace zelto
