#include <gtest/gtest.h>

#include <cstring>

#include "../support/Failures.h"
#include "Template.h"

namespace {

TEST(Template, FillsEveryDirectiveInOrder) {
  EXPECT_EQ(FillTemplate("%s=%d (%x) at %p%%",
                         {"count", -42, 0xC0000008u, TemplateArgument::Address(0x23B5C)}),
            "count=-42 (C0000008) at 00023B5C%");
  EXPECT_EQ(FillTemplate("%S %D %X %P", {"up", 7, 255, TemplateArgument::Address(0)}),
            "up 7 FF 00000000");
  EXPECT_EQ(FillTemplate("%d %d %x", {0, int32_t{-2147483647 - 1}, 0}), "0 -2147483648 0");
  EXPECT_EQ(FillTemplate("no directives", {}), "no directives");
  EXPECT_EQ(FillTemplate("%s", {"stops at\0zero"}), "stops at");
}

TEST(Template, AddressesShowEightDigitsOrMoreWhereTheyNeedThem) {
  EXPECT_EQ(FillTemplate("%p", {TemplateArgument::Address(0xABC)}), "00000ABC");
  if (sizeof(uintptr_t) > 4) {
    EXPECT_EQ(FillTemplate("%p", {TemplateArgument::Address(uintptr_t{0x123456789})}), "123456789");
  }
}

TEST(Template, TextsOfAnyLengthAreFilledWhole) {
  const std::string longText(100000, 'x');
  EXPECT_EQ(FillTemplate("[%s]", {longText}), "[" + longText + "]");
  char buffer[8];
  EXPECT_EQ(FillTemplateInto(buffer, sizeof(buffer), "%s!", {"abcdefghij"}), 7u);
  EXPECT_STREQ(buffer, "abcdefg");
}

// The fixed-buffer filler serves the report path, which must not fail again.
TEST(Template, TheFixedBufferFillerGivesBackWhatItCannotFill) {
  char buffer[16];
  for (const char* templ : {"%q at %s", "%s at %d", "%s %s %s"}) {
    EXPECT_EQ(FillTemplateInto(buffer, sizeof(buffer), templ, {"here"}), strlen(templ));
    EXPECT_STREQ(buffer, templ);
  }
}

TEST(Template, UnfillableDirectivesRaiseConvertErrors) {
  EXPECT_EQ(FailureOf([] { FillTemplate("%d", {"text"}); }),
            "EConvertError: Format '%d' ung\xFCltig oder nicht kompatibel mit Argument");
  EXPECT_EQ(FailureOf([] { FillTemplate("a %q", {1}); }),
            "EConvertError: Format '%q' ung\xFCltig oder nicht kompatibel mit Argument");
  EXPECT_EQ(FailureOf([] { FillTemplate("%5d", {1}); }),
            "EConvertError: Format '%5' ung\xFCltig oder nicht kompatibel mit Argument");
  EXPECT_EQ(FailureOf([] { FillTemplate("%s and %s", {"one"}); }),
            "EConvertError: Kein Argument f\xFCr Format '%s'");
  EXPECT_EQ(FailureOf([] { FillTemplate("100%", {}); }),
            "EConvertError: Format '%' ung\xFCltig oder nicht kompatibel mit Argument");
}

}  // namespace
