// The box at the run's end names each value passed over as the wide
// functions give its name.
#include <gtest/gtest.h>

#include "MessageIds.h"
#include "Prompt.h"

namespace {

const std::string kRunLine =
    "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";

PassedOver Value(std::u16string_view name, uint16_t reason, const std::string& keyLine = kRunLine) {
  return {keyLine, std::basic_string<WCHAR>(name.begin(), name.end()), reason};
}

TEST(PassedOverText, EachValueIsNamedAsTheWideFunctionsGiveIt) {
  const std::pair<std::vector<PassedOver>, std::string> rows[] = {
      {{Value(std::u16string_view(u"Upd\0hidden", 10), SValueNotRepresentable),
        Value(u"\u0416\u00e4\t\x7f", SInvalidRegType)},
       kRunLine +
           "\rWert 'Upd\\x00hidden' enth\xE4lt Zeichen, die KeyVigil nicht darstellen kann.\r" +
           kRunLine + "\rUng\xFCltiger Datentyp f\xFCr '\\u0416\xE4\\x09\\x7F'."},
      {{Value(u"AAAAAAAAAAAAAAAAAAAAB", SInvalidRegType)},
       kRunLine + "\rUng\xFCltiger Datentyp f\xFCr 'AAAAAAAA (21 Zeichen, gek\xFCrzt) AAAAAAAB'."},
      {std::vector<PassedOver>(12, Value(u"a", SInvalidRegType, "K")),
       "K\rUng\xFCltiger Datentyp f\xFCr 'a'.\rK\rUng\xFCltiger Datentyp f\xFCr 'a'.\r"
       "K\rUng\xFCltiger Datentyp f\xFCr 'a'.\rK\rUng\xFCltiger Datentyp f\xFCr 'a'.\r"
       "K\rUng\xFCltiger Datentyp f\xFCr 'a'.\rK\rUng\xFCltiger Datentyp f\xFCr 'a'.\r"
       "K\rUng\xFCltiger Datentyp f\xFCr 'a'.\rK\rUng\xFCltiger Datentyp f\xFCr 'a'.\r"
       "K\rUng\xFCltiger Datentyp f\xFCr 'a'.\rK\rUng\xFCltiger Datentyp f\xFCr 'a'.\r"
       "und 2 weitere"},
  };
  for (const auto& [values, expected] : rows) EXPECT_EQ(PassedOverText(values), expected);
}

}  // namespace
