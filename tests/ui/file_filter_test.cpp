#include "ui/FileFilter.h"

#include <gtest/gtest.h>

namespace quorvel {
namespace {

TEST(FileFilterTest, PairsBecomeChoicesUpToTheClosingBars) {
  struct Case {
    const char16_t* filter;
    std::vector<FileFilter> expected;
  };
  const Case cases[] = {
      {u"Config Files (*.pkc)|*.pkc|All Files (*.*)|*.*||",
       {{u"Config Files (*.pkc)", {u"*.pkc"}}, {u"All Files (*.*)", {u"*.*"}}}},
      {u" Images (*.png) |*.png; *.jpg;;|Anything| |", {{u"Images (*.png)", {u"*.png", u"*.jpg"}},
                                                      {u"Anything", {u"*"}}}},
      // A text without its pattern part, or after the closing bars, is no choice.
      {u"Text|*.txt|Odd", {{u"Text", {u"*.txt"}}}},
      {u"Text|*.txt||Late|*.l", {{u"Text", {u"*.txt"}}}},
      {u"", {}},
      {u"||", {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ParseFileFilter(c.filter), c.expected) << ToUtf8(c.filter);
  }
}

}  // namespace
}  // namespace quorvel
