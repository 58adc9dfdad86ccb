#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>

#include "Template.h"
#include "Win32.h"

// Exceptions are raised as pointers (throw Exception*), so that the two
// preallocated memory exceptions can be raised without allocating, and so
// that the report path can outlive the object's owner. A handler that
// finishes with one calls ReleaseException.
class Exception {
 public:
  explicit Exception(std::string message) : messageText(std::move(message)) {}
  Exception(uint16_t templateId, std::initializer_list<TemplateArgument> args);
  virtual ~Exception() = default;
  virtual const char* ClassName() const { return "Exception"; }

  std::string messageText;
  const void* faultAddress = nullptr;
};

#define KV_DECLARE_EXCEPTION(Name, Base)                     \
  class Name : public Base {                                 \
   public:                                                   \
    using Base::Base;                                        \
    const char* ClassName() const override { return #Name; } \
  }

class EHeapException : public Exception {
 public:
  using Exception::Exception;
  const char* ClassName() const override { return "EHeapException"; }
  bool releasable = false;
};
KV_DECLARE_EXCEPTION(EOutOfMemory, EHeapException);
KV_DECLARE_EXCEPTION(EInvalidPointer, EHeapException);

class EInOutError : public Exception {
 public:
  using Exception::Exception;
  const char* ClassName() const override { return "EInOutError"; }
  int32_t ioCode = 0;
};

KV_DECLARE_EXCEPTION(EConvertError, Exception);

class EExternal : public Exception {
 public:
  using Exception::Exception;
  const char* ClassName() const override { return "EExternal"; }
  const EXCEPTION_RECORD* systemRecord = nullptr;
};
KV_DECLARE_EXCEPTION(EIntError, EExternal);
KV_DECLARE_EXCEPTION(EDivByZero, EIntError);
KV_DECLARE_EXCEPTION(ERangeError, EIntError);
KV_DECLARE_EXCEPTION(EIntOverflow, EIntError);
KV_DECLARE_EXCEPTION(EMathError, EExternal);
KV_DECLARE_EXCEPTION(EInvalidOp, EMathError);
KV_DECLARE_EXCEPTION(EZeroDivide, EMathError);
KV_DECLARE_EXCEPTION(EOverflow, EMathError);
KV_DECLARE_EXCEPTION(EUnderflow, EMathError);
KV_DECLARE_EXCEPTION(EAccessViolation, EExternal);
KV_DECLARE_EXCEPTION(EPrivilege, EExternal);
KV_DECLARE_EXCEPTION(EControlC, EExternal);
KV_DECLARE_EXCEPTION(EStackOverflow, EExternal);
KV_DECLARE_EXCEPTION(EExternalException, EExternal);

KV_DECLARE_EXCEPTION(EStreamError, Exception);
KV_DECLARE_EXCEPTION(EFCreateError, EStreamError);
KV_DECLARE_EXCEPTION(EFilerError, EStreamError);
KV_DECLARE_EXCEPTION(EWriteError, EFilerError);
KV_DECLARE_EXCEPTION(EStringListError, Exception);
KV_DECLARE_EXCEPTION(ERegistryException, Exception);
KV_DECLARE_EXCEPTION(ENoAnswer, Exception);

// The code address just after the call that is being made from the current
// function's caller: the fault address of a raise, or of a check that reports
// its caller's place.
#define KV_CALLER_ADDRESS() __builtin_extract_return_addr(__builtin_return_address(0))

// Raises the exception with the given fault address.
[[noreturn]] void RaiseAt(Exception* exception, const void* faultAddress);
// Raises the exception at the point just after this call.
[[noreturn]] void Raise(Exception* exception);
// Destroys a caught exception, except the preallocated ones.
void ReleaseException(Exception* exception);
