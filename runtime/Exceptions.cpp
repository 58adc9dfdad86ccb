#include "Exceptions.h"

#include "Messages.h"

Exception::Exception(uint16_t templateId, std::initializer_list<TemplateArgument> args)
    : messageText(FillTemplate(LoadMessage(templateId), args)) {}

void RaiseAt(Exception* exception, const void* faultAddress) {
  exception->faultAddress = faultAddress;
  throw exception;
}

// Out of line, so that its return address is the raising call's own.
[[gnu::noinline]] void Raise(Exception* exception) { RaiseAt(exception, KV_CALLER_ADDRESS()); }

void ReleaseException(Exception* exception) {
  auto* heapException = dynamic_cast<EHeapException*>(exception);
  if (heapException && !heapException->releasable) return;
  delete exception;
}
