#include "loam/platform/zuPlatformError.h"

namespace zuPlatform {

namespace {
thread_local u32 t_lastError = kErrorSuccess;
}  // namespace

u32 getLastError() { return t_lastError; }

void setLastError(u32 error) { t_lastError = error; }

}  // namespace zuPlatform
