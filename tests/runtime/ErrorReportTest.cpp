#include <gtest/gtest.h>

#include <tuple>

#include "Exceptions.h"
#include "Process.h"

namespace {

std::string ErrorText(const char* className, const Exception* object, const void* address) {
  char buffer[1024];
  return std::string(buffer, ComposeErrorText(className, object, address, buffer, sizeof(buffer)));
}

#ifdef _WIN32
const std::string kProgram = "keyvigil_tests.exe";
#else
const std::string kProgram = "keyvigil_tests";
#endif

std::string Hex(uintptr_t address) {
  char digits[32];
  snprintf(digits, sizeof(digits), "%08llX", static_cast<unsigned long long>(address));
  return digits;
}

[[gnu::noinline]] void SomeCode() {}
const auto kSomeCode = reinterpret_cast<const char*>(&SomeCode) + 1;
const auto kNowhere = reinterpret_cast<const void*>(uintptr_t{0x5000});

// The address as an offset into its module; a message that ends a sentence
// gets no second period; a long one is cut to the buffer. (The run-time
// error's text: the process tests.)
TEST(ErrorReport, TheBoxNamesClassModuleAddressAndMessage) {
  const Exception error("Dateizugriff verweigert"), sentence("Schon ein Satz.");
  const std::string head = "Exception EInOutError in Modul " + kProgram + " bei ";
  const auto programStart = reinterpret_cast<const char*>(GetModuleHandleA(nullptr));
  EXPECT_EQ(ErrorText("EInOutError", &error, kSomeCode),
            head + Hex(kSomeCode - programStart) + ".\nDateizugriff verweigert.");
  EXPECT_EQ(ErrorText("EInOutError", &sentence, nullptr), head + "00000000.\nSchon ein Satz.");
  EXPECT_EQ(ErrorText("St9bad_cast", nullptr, kNowhere),
            "Exception St9bad_cast in Modul " + kProgram + " bei 00004000.\n");
  const Exception longMessage(std::string(2000, 'm'));
  EXPECT_EQ(ErrorText("Exception", &longMessage, nullptr).substr(1000), std::string(23, 'm'));
}

// A fault's class and message as "class: message" and its run-time error
// number, for a code that shares both with another, Ctrl-C, which ends as an
// uncaught exception does, one without a class of its own, and access
// violations, which tell where and how memory was accessed only when the
// record carries its two parameters (each record here holds a write at 0x10).
TEST(ErrorReport, SystemFaultsHaveTheirClassMessageAndNumber) {
  const std::tuple<DWORD, DWORD, const void*, std::string, uint32_t> rows[] = {
      {STATUS_FLOAT_DENORMAL_OPERAND, 0, kNowhere, "EUnderflow: Gleitkommaunterlauf", 206},
      {STATUS_ARRAY_BOUNDS_EXCEEDED, 0, kNowhere, "ERangeError: Fehler bei Bereichspr\374fung",
       201},
      {STATUS_CONTROL_C_EXIT, 0, kNowhere, "EControlC: Strg+C gedr\374ckt", 217},
      {0xC0000008, 0, kNowhere, "EExternalException: Externe Exception C0000008", 255},
      {STATUS_ACCESS_VIOLATION, 0, kSomeCode,
       "EAccessViolation: Zugriffsverletzung bei Adresse " +
           Hex(reinterpret_cast<uintptr_t>(kSomeCode)) + " in Modul '" + kProgram +
           "'. Lesen von Adresse 00000000",
       216},
      {STATUS_ACCESS_VIOLATION, 2, kNowhere,
       "EAccessViolation: Zugriffsverletzung bei Adresse 00005000. Schreiben von Adresse 00000010",
       216},
  };
  for (const auto& [code, parameters, address, expected, number] : rows) {
    const EXCEPTION_RECORD record{code,       0,        nullptr, const_cast<void*>(address),
                                  parameters, {1, 0x10}};
    const Exception* exception = TranslateSystemFault(record);
    EXPECT_EQ(exception->ClassName() + (": " + exception->messageText), expected);
    EXPECT_EQ(RuntimeErrorNumberOf(code), number) << expected;
  }
}

}  // namespace
