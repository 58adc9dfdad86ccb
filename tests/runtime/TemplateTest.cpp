#include <gtest/gtest.h>

#include <cstring>

#include "../support/Failures.h"
#include "Template.h"

namespace {

const auto Address = TemplateArgument::Address;

TEST(Template, FillsEveryDirectiveInOrderAndTextsOfAnyLength) {
  EXPECT_EQ(FillTemplate("%s=%d (%x) at %p%%", {"count", -42, 0xC0000008u, Address(0x23B5C)}),
            "count=-42 (C0000008) at 00023B5C%");
  EXPECT_EQ(FillTemplate("%s", {"stops at\0zero"}), "stops at");
  const std::string longText(100000, 'x');
  EXPECT_EQ(FillTemplate("[%s]", {longText}), "[" + longText + "]");
  char buffer[8];
  EXPECT_EQ(FillTemplateInto(buffer, sizeof(buffer), "%s!", {"abcdefghij"}), 7u);
  EXPECT_STREQ(buffer, "abcdefg");
}

// Every template gets the arguments "one" and 2. The fixed-buffer filler
// serves the report path, which must not fail again: what the growing one
// refuses it gives back unfilled.
TEST(Template, UnfillableDirectivesRaiseConvertErrors) {
  const std::pair<const char*, const char*> rows[] = {
      {"%d", "EConvertError: Format '%d' ung\374ltig oder nicht kompatibel mit Argument"},
      {"%s %s", "EConvertError: Format '%s' ung\374ltig oder nicht kompatibel mit Argument"},
      {"a %q", "EConvertError: Format '%q' ung\374ltig oder nicht kompatibel mit Argument"},
      {"%s %d %5", "EConvertError: Format '%5' ung\374ltig oder nicht kompatibel mit Argument"},
      {"%s and %d and %s", "EConvertError: Kein Argument f\374r Format '%s'"},
      {"100%", "EConvertError: Format '%' ung\374ltig oder nicht kompatibel mit Argument"},
  };
  for (const auto& [templ, failure] : rows) {
    EXPECT_EQ(FailureOf([templ] { FillTemplate(templ, {"one", 2}); }), failure) << templ;
    char buffer[20];
    EXPECT_EQ(FillTemplateInto(buffer, sizeof(buffer), templ, {"one", 2}), strlen(templ));
    EXPECT_STREQ(buffer, templ);
  }
}

}  // namespace
