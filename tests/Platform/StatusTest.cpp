#include <gtest/gtest.h>

#include <cerrno>

#include "Platform/Status.h"

namespace zelto {
namespace {

// A failure made from an error number has the kind that number says, and keeps it through
// context added on the way up; the message is the context, then the system's words.
TEST(StatusTest, ErrnoFailuresCarryTheirKindThroughContext) {
  using Kind = Status::Kind;
  const std::pair<int, Kind> kinds[] = {{ENOENT, Kind::kNotFound},
                                        {ENOTDIR, Kind::kNotFound},
                                        {EACCES, Kind::kPermissionDenied},
                                        {EPERM, Kind::kPermissionDenied},
                                        {EAGAIN, Kind::kBusy},
                                        {EADDRINUSE, Kind::kBusy},
                                        {EINVAL, Kind::kInvalidInput},
                                        {EPIPE, Kind::kClosed},
                                        {EIO, Kind::kIOError},
                                        {0, Kind::kUnknown}};
  for (const auto& [error, kind] : kinds) {
    Status status = Status::fromErrno(error, "Can't open /x").withContext("settings");
    EXPECT_FALSE(status.ok()) << error;
    EXPECT_EQ(status.kind(), kind) << error;
  }
  EXPECT_EQ(Status::fromErrno(ENOENT, "Can't open /x").message(),
            "Can't open /x: No such file or directory");
  EXPECT_TRUE(Status::fromErrno(ENOENT, "").withContext("a").isNotFound());
  // The old factory still fails, of no particular kind.
  EXPECT_EQ(Status::failure("").kind(), Kind::kUnknown);
  EXPECT_FALSE(Status::failure(Kind::kOk, "x").ok());
}

}  // namespace
}  // namespace zelto
