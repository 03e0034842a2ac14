#include "telvor_common/text.h"

#include <gtest/gtest.h>

#include <climits>

namespace telvor {
namespace {

TEST(FormatCode, SignedDecimalInPlaceOfTheMarker) {
  EXPECT_EQ(FormatCode(u"AddPrinter error %d\n", 5), u"AddPrinter error 5\n");
  EXPECT_EQ(FormatCode(u"SendFax error %d\n", -40), u"SendFax error -40\n");
  // A Setup API code with its top bit set shows as a negative number.
  EXPECT_EQ(FormatCode(u"SetupCommitFileQueue error %d\n", static_cast<std::int32_t>(0xE0000100u)),
            u"SetupCommitFileQueue error -536870656\n");
  EXPECT_EQ(FormatCode(u"x %d", INT_MIN), u"x -2147483648");
}

TEST(CopyText, FitsWithTerminatorOrLeavesEmpty) {
  char16_t buf[4] = {u'x', u'x', u'x', u'x'};
  EXPECT_TRUE(CopyText(buf, 4, u"FX:"));
  EXPECT_EQ(TextView(buf), u"FX:");
  EXPECT_FALSE(CopyText(buf, 4, u"FX:1"));
  EXPECT_EQ(buf[0], 0);
}

TEST(Utf, RoundTripsBmpAndSurrogatesAndReplacesInvalid) {
  const std::string s = "Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC \xF0\x9F\x93\xA0";
  EXPECT_EQ(ToUtf8(FromUtf8(s)), s);
  EXPECT_EQ(FromUtf8("a\xC3"), Text(u"a\uFFFD"));
  EXPECT_EQ(FromUtf8("\xE2\x28\xA1").front(), u'\uFFFD');
}

}  // namespace
}  // namespace telvor
