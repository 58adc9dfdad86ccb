#include <gtest/gtest.h>

#include "Exceptions.h"
#include "Process.h"

namespace {

std::string ErrorText(const char* className, const Exception* object, const void* address) {
  char buffer[1024];
  return std::string(buffer, ComposeErrorText(className, object, address, buffer, sizeof(buffer)));
}

// The name this test program runs under, as the box shows it.
std::string ProgramName() {
  char path[MAX_PATH + 1];
  path[GetModuleFileNameA(nullptr, path, MAX_PATH)] = 0;
  std::string name = path;
  return name.substr(name.find_last_of("\\/") + 1);
}

// Where the code lies in its module, as eight hexadecimal digits.
std::string Shown(const void* address) {
  MEMORY_BASIC_INFORMATION region{};
  EXPECT_EQ(VirtualQuery(address, &region, sizeof(region)), sizeof(region));
  char shown[32];
  snprintf(shown, sizeof(shown), "%08llX",
           static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(address) -
                                           reinterpret_cast<uintptr_t>(region.AllocationBase)));
  return shown;
}

[[gnu::noinline]] void SomeCode() {}
const auto kSomeCode = reinterpret_cast<const char*>(&SomeCode) + 1;
const auto kNowhere = reinterpret_cast<const void*>(uintptr_t{0x5000});

TEST(ErrorReport, TheBoxNamesClassModuleAddressAndMessage) {
  const struct {
    const char* className;
    const char* message;  // null: an object of another class
    const void* address;
    std::string expected;
  } rows[] = {
      {"EInOutError", "Dateizugriff verweigert", kSomeCode,
       " bei " + Shown(kSomeCode) + ".\nDateizugriff verweigert."},
      {"Exception", "Schon ein Satz.", nullptr, " bei 00000000.\nSchon ein Satz."},
      {"Exception", "", kNowhere, " bei 00004000.\n"},
      {"St9bad_cast", nullptr, nullptr, " bei 00000000.\n"},
  };
  for (const auto& row : rows) {
    const Exception error(row.message ? row.message : "unseen");
    EXPECT_EQ(
        ErrorText(row.className, row.message ? &error : nullptr, row.address),
        "Exception " + std::string(row.className) + " in Modul " + ProgramName() + row.expected);
  }
  const Exception longMessage(std::string(2000, 'm'));
  const std::string text = ErrorText("Exception", &longMessage, nullptr);
  EXPECT_EQ(text.size(), 1023u);
  EXPECT_EQ(text.back(), 'm');
}

TEST(ErrorReport, RuntimeErrorNumbersStandRightAligned) {
  const std::pair<uint32_t, const char*> rows[] = {{2, "Runtime error   2 at "},
                                                   {217, "Runtime error 217 at "},
                                                   {1117, "Runtime error1117 at "}};
  for (const auto& [number, head] : rows) {
    char text[kRuntimeErrorTextSize];
    ComposeRuntimeErrorText(number, kSomeCode, text);
    EXPECT_EQ(std::string(text), head + Shown(kSomeCode));
  }
}

TEST(ErrorReport, EverySystemFaultHasItsClassMessageAndNumber) {
  const struct {
    DWORD code;
    const char* className;
    const char* message;
    uint32_t runtimeError;
  } rows[] = {
      {STATUS_INTEGER_DIVIDE_BY_ZERO, "EDivByZero", "Division durch Null", 200},
      {STATUS_ARRAY_BOUNDS_EXCEEDED, "ERangeError", "Fehler bei Bereichspr\374fung", 201},
      {STATUS_INTEGER_OVERFLOW, "EIntOverflow", "Integer\374berlauf", 215},
      {STATUS_FLOAT_INEXACT_RESULT, "EInvalidOp", "Ung\374ltige Gleitkommaoperation", 207},
      {STATUS_FLOAT_INVALID_OPERATION, "EInvalidOp", "Ung\374ltige Gleitkommaoperation", 207},
      {STATUS_FLOAT_STACK_CHECK, "EInvalidOp", "Ung\374ltige Gleitkommaoperation", 207},
      {STATUS_FLOAT_DIVIDE_BY_ZERO, "EZeroDivide", "Gleitkommadivision durch Null", 200},
      {STATUS_FLOAT_OVERFLOW, "EOverflow", "Gleitkomma\374berlauf", 205},
      {STATUS_FLOAT_UNDERFLOW, "EUnderflow", "Gleitkommaunterlauf", 206},
      {STATUS_FLOAT_DENORMAL_OPERAND, "EUnderflow", "Gleitkommaunterlauf", 206},
      {STATUS_PRIVILEGED_INSTRUCTION, "EPrivilege", "Privilegierte Anweisung", 218},
      {STATUS_CONTROL_C_EXIT, "EControlC", "Strg+C gedr\374ckt", 217},
      {STATUS_STACK_OVERFLOW, "EStackOverflow", "Stack-\334berlauf", 202},
      {0xC0000008, "EExternalException", "Externe Exception C0000008", 255},
  };
  for (const auto& row : rows) {
    EXCEPTION_RECORD record{};
    record.ExceptionCode = row.code;
    record.ExceptionAddress = const_cast<void*>(kNowhere);
    const Exception* exception = TranslateSystemFault(record);
    EXPECT_STREQ(exception->ClassName(), row.className) << std::hex << row.code;
    EXPECT_EQ(exception->messageText, row.message);
    EXPECT_EQ(static_cast<const EExternal*>(exception)->systemRecord, &record);
    EXPECT_EQ(exception->faultAddress, kNowhere);
    EXPECT_EQ(RuntimeErrorNumberOf(row.code), row.runtimeError);
  }
  EXPECT_EQ(RuntimeErrorNumberOf(STATUS_ACCESS_VIOLATION), 216u);
}

TEST(ErrorReport, AccessViolationsNameTheAccessAndTheModule) {
  char where[32];
  snprintf(where, sizeof(where), "%08llX",
           static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(kSomeCode)));
  const struct {
    ULONG_PTR writing;
    ULONG_PTR accessed;
    const void* address;
    std::string message;
  } rows[] = {
      {0, 0, kSomeCode,
       "Zugriffsverletzung bei Adresse " + std::string(where) + " in Modul '" + ProgramName() +
           "'. Lesen von Adresse 00000000"},
      {1, 0x10, kNowhere,
       "Zugriffsverletzung bei Adresse 00005000. Schreiben von Adresse 00000010"},
  };
  for (const auto& row : rows) {
    EXCEPTION_RECORD record{};
    record.ExceptionCode = STATUS_ACCESS_VIOLATION;
    record.NumberParameters = 2;
    record.ExceptionInformation[0] = row.writing;
    record.ExceptionInformation[1] = row.accessed;
    record.ExceptionAddress = const_cast<void*>(row.address);
    EXPECT_EQ(TranslateSystemFault(record)->messageText, row.message);
  }
}

}  // namespace
