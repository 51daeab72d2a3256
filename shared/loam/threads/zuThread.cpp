#include "loam/threads/zuThread.h"

#include <new>
#include <string>

#include "loam/base/zuException.h"
#include "loam/base/zuMessageTexts.h"

zuErrorMessage zuThread::exceptionMessage(const std::exception& e) {
  zuErrorMessage result(0, "");
  if (const auto* ze = dynamic_cast<const zuException*>(&e)) {
    result = ze->message();
    if (result.text() == kzuUnspecifiedErrorText && !result.hasParam('e'))
      result.setParamNumber('e', static_cast<u32>(result.code()));
  } else if (dynamic_cast<const std::bad_alloc*>(&e)) {
    result = zuErrorMessage(kzuCodeMemoryExhausted, kzuMemoryExhaustedText);
  } else {
    result = zuErrorMessage(kzuCodeInternalError, kzuUnexpectedExceptionText, 'e',
                            std::string(e.what()));
  }
  return result;
}
