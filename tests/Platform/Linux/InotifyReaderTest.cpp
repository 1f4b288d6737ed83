#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "Platform/Linux/FileDescriptor.h"
#include "Platform/Linux/InotifyReader.h"
#include "Support/TempDir.h"

namespace zelto {
namespace {

using testing::TempDir;

struct Drained {
  Status status;
  std::vector<inotify_event> events;
  std::vector<std::string> names;
};

Drained drain(int fd) {
  Drained drained;
  drained.status = InotifyReader::drain(fd, [&](const inotify_event& event) {
    drained.events.push_back(event);
    drained.names.push_back(event.len > 0 ? event.name : "");
  });
  return drained;
}

class InotifyReaderTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(inotify.valid()) << std::strerror(errno); }

  FileDescriptor inotify{::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)};
  TempDir temp;
};

TEST_F(InotifyReaderTest, HandsOverEveryPendingEventInOrderThenFindsTheQueueEmpty) {
  ASSERT_GE(::inotify_add_watch(inotify.get(), temp.path().c_str(), IN_CREATE), 0);
  // More events than one read can take.
  std::vector<std::string> created;
  for (int i = 0; i < 600; ++i) {
    created.push_back("file-with-a-name-long-enough-to-fill-reads-" + std::to_string(i));
    temp.write(created.back(), "");
  }
  Drained first = drain(inotify.get());
  ASSERT_TRUE(first.status.ok()) << first.status.message();
  EXPECT_EQ(first.names, created);

  Drained second = drain(inotify.get());
  EXPECT_TRUE(second.status.ok()) << second.status.message();
  EXPECT_TRUE(second.events.empty());
}

TEST_F(InotifyReaderTest, ADescriptorThatGivesNoEventsFails) {
  Drained unopened = drain(-1);
  EXPECT_FALSE(unopened.status.ok());
  EXPECT_NE(unopened.status.message().find(std::strerror(EBADF)), std::string::npos);

  // A pipe stands in for a descriptor whose reads end, or end inside an event.
  int ends[2];
  ASSERT_EQ(::pipe2(ends, O_CLOEXEC | O_NONBLOCK), 0);
  FileDescriptor reader(ends[0]), writer(ends[1]);
  EXPECT_TRUE(drain(reader.get()).status.ok());  // nothing waiting yet
  ASSERT_EQ(::write(writer.get(), "abc", 3), 3);
  Drained cut = drain(reader.get());
  EXPECT_FALSE(cut.status.ok());
  EXPECT_TRUE(cut.events.empty());
  writer.reset();
  EXPECT_FALSE(drain(reader.get()).status.ok()) << "end of file";
}

}  // namespace
}  // namespace zelto
