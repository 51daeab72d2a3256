// A service's run-time records under <root>/services/<escaped name>/: the
// status file ("zu-service-status 1" and eight numbers) and the liveness lock
// that its process holds for its whole life.
#include <charconv>
#include <string>
#include <string_view>

#include "internal/zuPlatformServiceParts.h"

namespace zuPlatform::service {

namespace {

constexpr std::string_view kStatusMagic = "zu-service-status 1";

std::string formatStatus(const ServiceStatusProcess& s) {
  std::string out(kStatusMagic);
  for (u32 v : {s.serviceType, s.currentState, s.controlsAccepted, s.win32ExitCode,
                s.serviceSpecificExitCode, s.checkPoint, s.waitHint, s.processId}) {
    out += ' ';
    out += std::to_string(v);
  }
  out += '\n';
  return out;
}

bool parseStatus(std::string_view text, ServiceStatusProcess& s) {
  if (text.substr(0, kStatusMagic.size()) != kStatusMagic) return false;
  size_t pos = kStatusMagic.size();
  u32* fields[] = {&s.serviceType,
                   &s.currentState,
                   &s.controlsAccepted,
                   &s.win32ExitCode,
                   &s.serviceSpecificExitCode,
                   &s.checkPoint,
                   &s.waitHint,
                   &s.processId};
  for (u32* field : fields) {
    if (pos >= text.size() || text[pos] != ' ') return false;
    ++pos;
    const auto [ptr, ec] = std::from_chars(text.data() + pos, text.data() + text.size(), *field);
    if (ec != std::errc() || ptr == text.data() + pos) return false;
    pos = static_cast<size_t>(ptr - text.data());
  }
  return pos + 1 == text.size() && text[pos] == '\n';
}

}  // namespace

int writeStatus(const std::string& escaped, const ServiceStatusProcess& s) {
  return store::writeFileAtomic(runtimeFile(escaped, "status"), formatStatus(s), 0644);
}

bool readRawStatus(const std::string& escaped, ServiceStatusProcess& s) {
  std::string text;
  if (store::readWholeFile(runtimeFile(escaped, "status"), text) != 0) return false;
  return parseStatus(text, s);
}

ServiceStatusProcess stoppedStatus(u32 win32ExitCode) {
  ServiceStatusProcess s;
  s.serviceType = kServiceWin32OwnProcess;
  s.currentState = kServiceStopped;
  s.win32ExitCode = win32ExitCode;
  return s;
}

ServiceStatusProcess effectiveStatus(const std::string& escaped, bool holdingManagerLock) {
  ServiceStatusProcess s;
  if (!readRawStatus(escaped, s)) return stoppedStatus(kErrorServiceNeverStarted);
  if (s.currentState == kServiceStopped) {
    s.processId = 0;
    return s;
  }
  if (store::isLockHeld(runtimeFile(escaped, "alive.lock")) ||
      (!holdingManagerLock && store::isLockHeld(runtimeFile(escaped, "manager.lock")))) {
    return s;
  }
  return stoppedStatus(kErrorProcessAborted);
}

ServiceStatus toStatus(const ServiceStatusProcess& s) {
  return ServiceStatus{
      s.serviceType, s.currentState, s.controlsAccepted, s.win32ExitCode, s.serviceSpecificExitCode,
      s.checkPoint,  s.waitHint};
}

}  // namespace zuPlatform::service
