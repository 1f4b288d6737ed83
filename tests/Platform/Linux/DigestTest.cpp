#include <gtest/gtest.h>

#include "Platform/Digest.h"
#include "Support/TempDir.h"

namespace zelto {
namespace {

// Known digests, and a file longer than one chunk read.
TEST(DigestTest, Sha256OfAFileReadsItWholeInChunks) {
  testing::TempDir dir;
  EXPECT_EQ(*Digest::sha256HexOfFile(dir.write("empty", "")),
            "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(*Digest::sha256HexOfFile(dir.write("abc", "abc")),
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  const std::string big = dir.write("big", std::string((3 << 20) + 1, 'a'));
  const std::string other = dir.write("other", std::string(3 << 20, 'a') + "b");
  EXPECT_NE(*Digest::sha256HexOfFile(big), *Digest::sha256HexOfFile(other));
  EXPECT_FALSE(Digest::sha256HexOfFile(dir / "missing").ok());
}

}  // namespace
}  // namespace zelto
