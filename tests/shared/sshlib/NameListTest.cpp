#include "sshlib/NameList.h"

#include <gtest/gtest.h>

namespace {

TEST(SSHNameList, Contains) {
  struct Case {
    const char* list;
    const char* name;
    bool found;
  };
  const Case cases[] = {
      {"aes256-cbc,3des-cbc", "3des-cbc", true},
      {"aes256-cbc,3des-cbc", "3des", false},
      {"aes256-cbc,3des-cbc", "AES256-CBC", false},  // case-sensitive
      {"a,,b", "", true},                            // adjacent commas: empty element
      {",a", "", true},                              // leading comma: empty first element
      {"a,", "", false},                             // trailing comma adds nothing
      {"", "", false},                               // the empty list has no element
      {"none", "none", true},
  };
  for (const auto& c : cases)
    EXPECT_EQ(SSH::nameListContains(c.list, c.name), c.found) << c.list << " / " << c.name;
}

TEST(SSHNameList, FirstCommonNameFollowsTheFirstList) {
  EXPECT_EQ(SSH::firstCommonName("aes256-cbc,3des-cbc", "3des-cbc,aes256-cbc"), "aes256-cbc");
  EXPECT_EQ(SSH::firstCommonName("3des-cbc,aes256-cbc", "aes256-cbc,3des-cbc"), "3des-cbc");
  EXPECT_EQ(SSH::firstCommonName("none", "zlib"), "");
  EXPECT_EQ(SSH::firstCommonName("", "zlib"), "");
  EXPECT_EQ(SSH::firstCommonName("x,zlib", "zlib,none"), "zlib");
}

TEST(SSHNameList, FirstName) {
  EXPECT_EQ(SSH::firstName("a,b"), "a");
  EXPECT_EQ(SSH::firstName("only"), "only");
  EXPECT_EQ(SSH::firstName(",b"), "");
  EXPECT_EQ(SSH::firstName(""), "");
}

TEST(SSHNameList, AllKnown) {
  const char* known = "none,zlib";
  EXPECT_TRUE(SSH::nameListAllKnown("zlib,none", known));
  EXPECT_TRUE(SSH::nameListAllKnown("none", known));
  EXPECT_FALSE(SSH::nameListAllKnown("zlib,none,", known));  // trailing comma
  EXPECT_FALSE(SSH::nameListAllKnown("", known));
  EXPECT_FALSE(SSH::nameListAllKnown("zlib,lzo", known));
  EXPECT_FALSE(SSH::nameListAllKnown("zlib,,none", known));  // the empty name is unknown
}

}  // namespace
