#pragma once
// Waitable objects of the platform are file descriptors: events, sockets and
// process handles alike, so one poll() waits on any mix of them.
#include "loam/platform/zuTypes.h"

namespace zuPlatform {

using Handle = int;
inline constexpr Handle kInvalidHandle = -1;

inline bool isValidHandle(Handle handle) { return handle >= 0; }

// Closes a handle; an invalid handle is ignored. False when the close failed.
bool closeHandle(Handle handle);

// The owner of one handle (a descriptor of any kind: file, socket, event,
// pidfd), closed when the owner goes. Take a new descriptor into one at once,
// before anything can throw or return early, and release it only on success.
class OwnedHandle {
 public:
  OwnedHandle() = default;
  explicit OwnedHandle(Handle handle) : handle_(handle) {}
  ~OwnedHandle() { reset(); }
  OwnedHandle(OwnedHandle&& other) noexcept : handle_(other.release()) {}
  OwnedHandle& operator=(OwnedHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  OwnedHandle(const OwnedHandle&) = delete;
  OwnedHandle& operator=(const OwnedHandle&) = delete;

  Handle get() const { return handle_; }
  bool valid() const { return isValidHandle(handle_); }
  // Gives the handle up without closing it.
  [[nodiscard]] Handle release() {
    const Handle handle = handle_;
    handle_ = kInvalidHandle;
    return handle;
  }
  // Closes the handle held (if any) and holds handle instead.
  void reset(Handle handle = kInvalidHandle) {
    if (isValidHandle(handle_)) closeHandle(handle_);
    handle_ = handle;
  }

 private:
  Handle handle_ = kInvalidHandle;
};

}  // namespace zuPlatform
