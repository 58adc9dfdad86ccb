#include <gtest/gtest.h>

#include <memory>

#include "Exceptions.h"
#include "Process.h"

namespace {

std::string ErrorText(const char* className, const Exception* object, const void* address,
                      size_t size = 1024) {
  std::vector<char> buffer(size);
  const size_t length = ComposeErrorText(className, object, address, buffer.data(), size);
  return std::string(buffer.data(), length);
}

// The name this test program runs under, as the box shows it.
std::string ProgramName() {
  char path[MAX_PATH + 1];
  path[GetModuleFileNameA(nullptr, path, MAX_PATH)] = 0;
  std::string name = path;
  return name.substr(name.find_last_of("\\/") + 1);
}

[[gnu::noinline]] void SomeCode() {}

TEST(ErrorReport, TheBoxNamesClassModuleAddressAndMessage) {
  const EInOutError error("Dateizugriff verweigert");
  const auto address = reinterpret_cast<const char*>(&SomeCode) + 1;
  const std::string text = ErrorText(error.ClassName(), &error, address);
  const std::string head = "Exception EInOutError in Modul " + ProgramName() + " bei ";
  ASSERT_EQ(text.substr(0, head.size()), head) << text;
  const std::string digits = text.substr(head.size(), 8);
  EXPECT_EQ(digits.find_first_not_of("0123456789ABCDEF"), std::string::npos) << text;
  EXPECT_EQ(text.substr(head.size() + 8), ".\nDateizugriff verweigert.");

  MEMORY_BASIC_INFORMATION region{};
  ASSERT_EQ(VirtualQuery(address, &region, sizeof(region)), sizeof(region));
  EXPECT_EQ(
      std::stoull(digits, nullptr, 16),
      reinterpret_cast<uintptr_t>(address) - reinterpret_cast<uintptr_t>(region.AllocationBase))
      << "shown relative to the module's load address";
}

TEST(ErrorReport, AFullStopIsAddedOnlyWhereItIsMissing) {
  const Exception ends("Schon ein Satz.");
  const Exception empty("");
  const std::string endsText = ErrorText("Exception", &ends, nullptr);
  EXPECT_EQ(endsText.substr(endsText.find('\n')), "\nSchon ein Satz.");
  const std::string emptyText = ErrorText("Exception", &empty, nullptr);
  EXPECT_EQ(emptyText.back(), '\n');
  const std::string foreign = ErrorText("St9bad_cast", nullptr, nullptr);
  EXPECT_EQ(foreign.substr(0, 22), "Exception St9bad_cast ");
  EXPECT_EQ(foreign.back(), '\n') << "an object of another class shows no message";
}

TEST(ErrorReport, AnAddressInNoModuleIsShownAgainstTheProgram) {
  const Exception error("x");
  EXPECT_NE(ErrorText("Exception", &error, nullptr).find(" bei 00000000.\n"), std::string::npos);
  const auto nowhere = reinterpret_cast<const void*>(uintptr_t{0x5000});
  const std::string text = ErrorText("Exception", &error, nowhere);
  EXPECT_NE(text.find("in Modul " + ProgramName() + " bei 00004000.\n"), std::string::npos) << text;
}

TEST(ErrorReport, ALongMessageIsCutAtTheBuffer) {
  const Exception error(std::string(2000, 'm'));
  const std::string text = ErrorText("Exception", &error, nullptr);
  EXPECT_EQ(text.size(), 1023u);
  EXPECT_EQ(text.back(), 'm');
}

TEST(ErrorReport, RuntimeErrorNumbersStandRightAligned) {
  const auto address = reinterpret_cast<const char*>(&SomeCode);
  MEMORY_BASIC_INFORMATION region{};
  ASSERT_EQ(VirtualQuery(address, &region, sizeof(region)), sizeof(region));
  char shown[16];
  snprintf(shown, sizeof(shown), "%08llX",
           static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(address) -
                                           reinterpret_cast<uintptr_t>(region.AllocationBase)));
  char text[kRuntimeErrorTextSize];
  ComposeRuntimeErrorText(2, address, text);
  EXPECT_EQ(std::string(text), std::string("Runtime error   2 at ") + shown);
  ComposeRuntimeErrorText(217, address, text);
  EXPECT_EQ(std::string(text), std::string("Runtime error 217 at ") + shown);
  ComposeRuntimeErrorText(1117, address, text);
  EXPECT_EQ(std::string(text), std::string("Runtime error1117 at ") + shown);
}

struct FaultRow {
  DWORD code;
  const char* className;
  const char* message;
  uint32_t runtimeError;
};

TEST(ErrorReport, EverySystemFaultHasItsClassMessageAndNumber) {
  const FaultRow rows[] = {
      {STATUS_INTEGER_DIVIDE_BY_ZERO, "EDivByZero", "Division durch Null", 200},
      {STATUS_ARRAY_BOUNDS_EXCEEDED, "ERangeError",
       "Fehler bei Bereichspr\xFC"
       "fung",
       201},
      {STATUS_INTEGER_OVERFLOW, "EIntOverflow",
       "Integer\xFC"
       "berlauf",
       215},
      {STATUS_FLOAT_INEXACT_RESULT, "EInvalidOp", "Ung\xFCltige Gleitkommaoperation", 207},
      {STATUS_FLOAT_INVALID_OPERATION, "EInvalidOp", "Ung\xFCltige Gleitkommaoperation", 207},
      {STATUS_FLOAT_STACK_CHECK, "EInvalidOp", "Ung\xFCltige Gleitkommaoperation", 207},
      {STATUS_FLOAT_DIVIDE_BY_ZERO, "EZeroDivide", "Gleitkommadivision durch Null", 200},
      {STATUS_FLOAT_OVERFLOW, "EOverflow",
       "Gleitkomma\xFC"
       "berlauf",
       205},
      {STATUS_FLOAT_UNDERFLOW, "EUnderflow", "Gleitkommaunterlauf", 206},
      {STATUS_FLOAT_DENORMAL_OPERAND, "EUnderflow", "Gleitkommaunterlauf", 206},
      {STATUS_PRIVILEGED_INSTRUCTION, "EPrivilege", "Privilegierte Anweisung", 218},
      {STATUS_CONTROL_C_EXIT, "EControlC",
       "Strg+C gedr\xFC"
       "ckt",
       217},
      {STATUS_STACK_OVERFLOW, "EStackOverflow",
       "Stack-\xDC"
       "berlauf",
       202},
      {0xC0000008, "EExternalException", "Externe Exception C0000008", 255},
  };
  for (const FaultRow& row : rows) {
    EXCEPTION_RECORD record{};
    record.ExceptionCode = row.code;
    std::unique_ptr<Exception> exception(TranslateSystemFault(record));
    EXPECT_STREQ(exception->ClassName(), row.className) << std::hex << row.code;
    EXPECT_EQ(exception->messageText, row.message);
    EXPECT_EQ(static_cast<EExternal*>(exception.get())->systemRecord, &record);
    EXPECT_EQ(RuntimeErrorNumberOf(row.code), row.runtimeError);
  }
  EXPECT_EQ(RuntimeErrorNumberOf(STATUS_ACCESS_VIOLATION), 216u);
}

TEST(ErrorReport, AccessViolationsNameTheAccessAndTheModule) {
  EXCEPTION_RECORD record{};
  record.ExceptionCode = STATUS_ACCESS_VIOLATION;
  record.NumberParameters = 2;
  record.ExceptionAddress = reinterpret_cast<PVOID>(&SomeCode);
  std::unique_ptr<Exception> reading(TranslateSystemFault(record));
  char where[32];
  snprintf(where, sizeof(where), "%08llX",
           static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(&SomeCode)));
  EXPECT_EQ(reading->messageText, std::string("Zugriffsverletzung bei Adresse ") + where +
                                      " in Modul '" + ProgramName() +
                                      "'. Lesen von Adresse 00000000");
  record.ExceptionInformation[0] = 1;
  record.ExceptionInformation[1] = 0x10;
  record.ExceptionAddress = reinterpret_cast<PVOID>(uintptr_t{0x5000});
  std::unique_ptr<Exception> writing(TranslateSystemFault(record));
  EXPECT_EQ(writing->messageText,
            "Zugriffsverletzung bei Adresse 00005000. Schreiben von Adresse 00000010");
}

}  // namespace
