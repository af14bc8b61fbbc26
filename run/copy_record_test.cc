#include "run/copy_record.h"

#include <gtest/gtest.h>

#include <string>

#include "testing/test_folder.h"

namespace norvale {
namespace {

// Names that could pass for another line or entry come back whole, with
// their stamps where known; a record without stamps keeps the first
// version's form, and either version is read. Only a whole record of paths
// below the destination is ever taken.
TEST(CopyRecordTest, KeepsEveryNameAndTakesOnlyWholeRecords) {
  CopyRecord record;
  record.source = NativePath("/home/u/Fav\\x\nend");
  for (const char* name : {"a.url", "Sub/x\n- a.url", "back\\slash.url",
                           "tab\t\x01.url", "caf\xC3\xA9/\xE2\x82\xAC.url"}) {
    record.copies[NativePath(name).native()] = {Fingerprint(name), {}};
  }
  record.folders.insert(NativePath("Sub").native());
  const std::string text = ComposeRecord(record);
  EXPECT_EQ(text.substr(0, 17), "Norvale copies 1\n");
  EXPECT_EQ(ParseRecord(text), record);
  // One line per entry: no name can end one.
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 9);
  record.copies[NativePath("a.url").native()].stamp = {36, 0x1DA2B3C4D5E6F70};
  record.copies[NativePath("tab\t\x01.url").native()].stamp = {0, 1};
  const std::string stamped = ComposeRecord(record);
  EXPECT_EQ(ParseRecord(stamped), record) << stamped;

  const std::string head = "Norvale copies 1\nsource /s\n",
                    v2 = "Norvale copies 2\nsource /s\ncopy 00000000000000ff ";
  const struct {
    std::string text;
    bool whole;
  } cases[] = {
      {head + "end\n", true},
      {head + "copy 00000000000000ff a.url\nend\n", true},
      {text.substr(0, text.size() - 1), false},
      {text.substr(0, text.size() - 4), false},
      {"", false},
      {"Norvale copies 3\nsource /s\nend\n", false},
      {"Norvale copies 1\nend\n", false},
      {head + "copy 00000000000000ff ../a.url\nend\n", false},
      {head + "copy 00000000000000ff /a.url\nend\n", false},
      {head + "copy 00000000000000ff a//b.url\nend\n", false},
      {head + "folder .\nend\n", false},
      {head + "copy 0000000000000g0f a.url\nend\n", false},
      {head + "copy 00ff a.url\nend\n", false},
      {head + "copy 00000000000000ff a\\q.url\nend\n", false},
      {head + "copy 00000000000000ff a\\x0.url\nend\n", false},
      {head + "remove everything\nend\n", false},
      {v2 + "24:1f a b.url\ncopy 00000000000000ff - c.url\nend\n", true},
      {v2 + "a.url\nend\n", false},
      {v2 + "24:0 a.url\nend\n", false},
      {v2 + "24:x a.url\nend\n", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ParseRecord(c.text).has_value(), c.whole) << c.text;
  }
}

}  // namespace
}  // namespace norvale
