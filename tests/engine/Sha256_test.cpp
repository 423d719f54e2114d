#include "engine/Sha256.h"

#include <gtest/gtest.h>

namespace tessera {
namespace {

TEST(Sha256, KnownDigestsAndStartingOver)
{
    Sha256 digest;
    EXPECT_EQ(digest.Finish(), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    digest.Update("ab", 2);
    digest.Update("c", 1);
    EXPECT_EQ(digest.Finish(), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    digest.Update("abc", 3);
    EXPECT_EQ(digest.Finish(), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

}  // namespace
}  // namespace tessera
