#include <cstring>

#include "Exceptions.h"
#include "Messages.h"
#include "Process.h"

namespace {

struct FaultRow {
  DWORD code;
  uint16_t message;
  uint32_t runtimeError;
  Exception* (*make)(uint16_t message);
};

template <typename T>
Exception* Make(uint16_t message) {
  return new T(message, {});
}

const FaultRow kFaults[] = {
    {STATUS_INTEGER_DIVIDE_BY_ZERO, SDivByZero, 200, Make<EDivByZero>},
    {STATUS_ARRAY_BOUNDS_EXCEEDED, SRangeError, 201, Make<ERangeError>},
    {STATUS_INTEGER_OVERFLOW, SIntOverflow, 215, Make<EIntOverflow>},
    {STATUS_FLOAT_INEXACT_RESULT, SInvalidOp, 207, Make<EInvalidOp>},
    {STATUS_FLOAT_INVALID_OPERATION, SInvalidOp, 207, Make<EInvalidOp>},
    {STATUS_FLOAT_STACK_CHECK, SInvalidOp, 207, Make<EInvalidOp>},
    {STATUS_FLOAT_DIVIDE_BY_ZERO, SZeroDivide, 200, Make<EZeroDivide>},
    {STATUS_FLOAT_OVERFLOW, SOverflow, 205, Make<EOverflow>},
    {STATUS_FLOAT_UNDERFLOW, SUnderflow, 206, Make<EUnderflow>},
    {STATUS_FLOAT_DENORMAL_OPERAND, SUnderflow, 206, Make<EUnderflow>},
    {STATUS_PRIVILEGED_INSTRUCTION, SPrivilege, 218, Make<EPrivilege>},
    {STATUS_CONTROL_C_EXIT, SControlC, 217, Make<EControlC>},
    {STATUS_STACK_OVERFLOW, SStackOverflow, 202, Make<EStackOverflow>},
};

constexpr uint32_t kAccessViolationError = 216;
constexpr uint32_t kOtherFaultError = 255;

const FaultRow* RowOf(DWORD code) {
  for (const FaultRow& row : kFaults) {
    if (row.code == code) return &row;
  }
  return nullptr;
}

Exception* AccessViolation(const EXCEPTION_RECORD& record) {
  const bool writing = record.NumberParameters > 0 && record.ExceptionInformation[0] != 0;
  const auto accessed =
      TemplateArgument::Address(record.NumberParameters > 1 ? record.ExceptionInformation[1] : 0);
  const std::string kind = LoadMessage(writing ? SWriteAccess : SReadAccess);
  const void* where = record.ExceptionAddress;
  char modulePath[MAX_PATH + 1];
  MEMORY_BASIC_INFORMATION region{};
  if (VirtualQuery(where, &region, sizeof(region)) == sizeof(region) &&
      region.State == MEM_COMMIT &&
      GetModuleFileNameA(static_cast<HMODULE>(region.AllocationBase), modulePath, MAX_PATH) > 0) {
    const char* name = modulePath;
    for (const char* p = modulePath; *p; ++p) {
      if (*p == '\\' || *p == ':' || *p == '/') name = p + 1;
    }
    return new EAccessViolation(SAccessViolationInModule, {where, name, kind, accessed});
  }
  return new EAccessViolation(SAccessViolation, {where, kind, accessed});
}

}  // namespace

Exception* TranslateSystemFault(const EXCEPTION_RECORD& record) {
  Exception* exception = nullptr;
  if (record.ExceptionCode == STATUS_ACCESS_VIOLATION) {
    exception = AccessViolation(record);
  } else if (const FaultRow* row = RowOf(record.ExceptionCode)) {
    exception = row->make(row->message);
  } else {
    exception =
        new EExternalException(SExternalException, {static_cast<uint32_t>(record.ExceptionCode)});
  }
  static_cast<EExternal*>(exception)->systemRecord = &record;
  exception->faultAddress = record.ExceptionAddress;
  return exception;
}

uint32_t RuntimeErrorNumberOf(DWORD faultCode) {
  if (faultCode == STATUS_ACCESS_VIOLATION) return kAccessViolationError;
  const FaultRow* row = RowOf(faultCode);
  return row ? row->runtimeError : kOtherFaultError;
}
