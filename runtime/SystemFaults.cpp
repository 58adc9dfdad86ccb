#include <cstring>

#include "Exceptions.h"
#include "Messages.h"
#include "Process.h"

namespace {

// A system fault may come while the memory manager holds its lock (Ctrl-C
// at any instruction), so its exception is one of these, made before the
// program runs, with its message filled into room reserved at start-up.
EDivByZero divByZero("");
ERangeError rangeError("");
EIntOverflow intOverflow("");
EInvalidOp invalidOp("");
EZeroDivide zeroDivide("");
EOverflow overflow("");
EUnderflow underflow("");
EAccessViolation accessViolation("");
EPrivilege privilege("");
EControlC controlC("");
EStackOverflow stackOverflow("");
EExternalException externalException("");

constexpr size_t kMessageSize = 1024;

struct FaultRow {
  DWORD code;
  uint16_t message;
  uint32_t runtimeError;
  EExternal* object;
};

const FaultRow kFaults[] = {
    {STATUS_INTEGER_DIVIDE_BY_ZERO, SDivByZero, 200, &divByZero},
    {STATUS_ARRAY_BOUNDS_EXCEEDED, SRangeError, 201, &rangeError},
    {STATUS_INTEGER_OVERFLOW, SIntOverflow, 215, &intOverflow},
    {STATUS_FLOAT_INEXACT_RESULT, SInvalidOp, 207, &invalidOp},
    {STATUS_FLOAT_INVALID_OPERATION, SInvalidOp, 207, &invalidOp},
    {STATUS_FLOAT_STACK_CHECK, SInvalidOp, 207, &invalidOp},
    {STATUS_FLOAT_DIVIDE_BY_ZERO, SZeroDivide, 200, &zeroDivide},
    {STATUS_FLOAT_OVERFLOW, SOverflow, 205, &overflow},
    {STATUS_FLOAT_UNDERFLOW, SUnderflow, 206, &underflow},
    {STATUS_FLOAT_DENORMAL_OPERAND, SUnderflow, 206, &underflow},
    {STATUS_PRIVILEGED_INSTRUCTION, SPrivilege, 218, &privilege},
    {STATUS_CONTROL_C_EXIT, SControlC, 217, &controlC},
    {STATUS_STACK_OVERFLOW, SStackOverflow, 202, &stackOverflow},
};

constexpr uint32_t kAccessViolationError = 216;
constexpr uint32_t kOtherFaultError = 255;

const FaultRow* RowOf(DWORD code) {
  for (const FaultRow& row : kFaults) {
    if (row.code == code) return &row;
  }
  return nullptr;
}

// Fills the object's message in place: within its reserved room the string
// keeps its buffer.
EExternal* Filled(EExternal& object, uint16_t templateId,
                  std::initializer_list<TemplateArgument> args) {
  char templ[kMessageSize];
  char text[kMessageSize];
  LoadMessageInto(templateId, templ, sizeof(templ));
  object.messageText.assign(text, FillTemplateInto(text, sizeof(text), templ, args));
  return &object;
}

EExternal* AccessViolation(const EXCEPTION_RECORD& record) {
  const bool writing = record.NumberParameters > 0 && record.ExceptionInformation[0] != 0;
  const auto accessed =
      TemplateArgument::Address(record.NumberParameters > 1 ? record.ExceptionInformation[1] : 0);
  char kind[64];
  LoadMessageInto(writing ? SWriteAccess : SReadAccess, kind, sizeof(kind));
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
    return Filled(accessViolation, SAccessViolationInModule, {where, name, kind, accessed});
  }
  return Filled(accessViolation, SAccessViolation, {where, kind, accessed});
}

}  // namespace

void ReserveSystemFaultMessages() {
  for (const FaultRow& row : kFaults) row.object->messageText.reserve(kMessageSize);
  accessViolation.messageText.reserve(kMessageSize);
  externalException.messageText.reserve(kMessageSize);
}

Exception* TranslateSystemFault(const EXCEPTION_RECORD& record) {
  EExternal* exception = nullptr;
  if (record.ExceptionCode == STATUS_ACCESS_VIOLATION) {
    exception = AccessViolation(record);
  } else if (const FaultRow* row = RowOf(record.ExceptionCode)) {
    exception = Filled(*row->object, row->message, {});
  } else {
    exception = Filled(externalException, SExternalException,
                       {static_cast<uint32_t>(record.ExceptionCode)});
  }
  exception->systemRecord = &record;
  exception->faultAddress = record.ExceptionAddress;
  return exception;
}

uint32_t RuntimeErrorNumberOf(DWORD faultCode) {
  if (faultCode == STATUS_ACCESS_VIOLATION) return kAccessViolationError;
  const FaultRow* row = RowOf(faultCode);
  return row ? row->runtimeError : kOtherFaultError;
}
