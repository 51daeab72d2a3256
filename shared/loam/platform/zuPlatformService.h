#pragma once
// The service control manager, standing in for OpenSCManager, OpenService,
// CreateService, DeleteService, QueryServiceStatus(Ex), QueryServiceConfig,
// StartService, ControlService and CloseServiceHandle, and on the service's
// side for StartServiceCtrlDispatcher, RegisterServiceCtrlHandler and
// SetServiceStatus.
//
// The database is shared by every process, as Windows' is: a service is the
// registry key SYSTEM\CurrentControlSet\Services\<name> (Type, Start,
// ErrorControl, ImagePath, DisplayName, ObjectName, DependOnService, as on
// Windows); its running state lives in <platform root>/services/<escaped
// name>/ (status record, liveness lock, control socket, output log). Names
// compare without regard to ASCII case and are only ever used escaped as file
// names.
//
// Start runs the image path's program (quoted program plus arguments, Windows
// rules) without a shell in a session of its own, with standard input from
// /dev/null, standard output and error appended to the service's output log,
// the working folder <platform root>/work and a small environment that carries
// kServiceMarkerVariable; it returns once the program's dispatcher has
// connected. The service process holds a flock on its liveness file for its
// whole life, so a process that died without reporting STOPPED reads as
// stopped (exit code 1067), whatever became of its pid. Controls travel over
// the service's Unix socket (mode 0600) and are answered with its status.
//
// Starting the automatic services at boot, and stopping every service at
// shutdown, is the boot host's (service_host/, run by systemd as root).
// Not reproduced here: the LocalSystem identity (a service runs as the user
// who started it; the account is only stored), service ACLs and security
// descriptors (any process that can write the platform root has every
// right), load-order groups and tags, starting the services a service depends
// on when one is started by hand, display-name uniqueness, and share-process
// or driver services.
//
// A start or delete waits at most 10 s for the service's start lock while
// another process holds it, then fails with 1055 (database locked); a change
// of the registry likewise gives 32.
//
// Like the Windows calls, failures return false or kScHandleNone and set the
// thread's last error (zuPlatformError.h).
#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "loam/platform/zuTypes.h"

namespace zuPlatform {

// A manager or service handle; 0 is none. Handles belong to the process.
using ScHandle = u64;
inline constexpr ScHandle kScHandleNone = 0;
using ServiceStatusHandle = u64;
inline constexpr ServiceStatusHandle kServiceStatusHandleNone = 0;

// Service type, start type and error control.
inline constexpr u32 kServiceWin32OwnProcess = 0x10;
inline constexpr u32 kServiceAutoStart = 2;
inline constexpr u32 kServiceDemandStart = 3;
inline constexpr u32 kServiceDisabled = 4;
inline constexpr u32 kServiceErrorIgnore = 0;
inline constexpr u32 kServiceErrorNormal = 1;
inline constexpr u32 kServiceErrorSevere = 2;
inline constexpr u32 kServiceErrorCritical = 3;

// Service states.
inline constexpr u32 kServiceStopped = 1;
inline constexpr u32 kServiceStartPending = 2;
inline constexpr u32 kServiceStopPending = 3;
inline constexpr u32 kServiceRunning = 4;
inline constexpr u32 kServiceContinuePending = 5;
inline constexpr u32 kServicePausePending = 6;
inline constexpr u32 kServicePaused = 7;

// Control codes (128 to 255 are the service's own).
inline constexpr u32 kServiceControlStop = 1;
inline constexpr u32 kServiceControlPause = 2;
inline constexpr u32 kServiceControlContinue = 3;
inline constexpr u32 kServiceControlInterrogate = 4;
inline constexpr u32 kServiceControlShutdown = 5;
inline constexpr u32 kServiceControlParamChange = 6;
inline constexpr u32 kServiceControlNetBindAdd = 7;
inline constexpr u32 kServiceControlNetBindRemove = 8;
inline constexpr u32 kServiceControlNetBindEnable = 9;
inline constexpr u32 kServiceControlNetBindDisable = 10;
inline constexpr u32 kServiceControlUserFirst = 128;
inline constexpr u32 kServiceControlUserLast = 255;

// Controls accepted (the status's controlsAccepted bits).
inline constexpr u32 kServiceAcceptStop = 0x01;
inline constexpr u32 kServiceAcceptPauseContinue = 0x02;
inline constexpr u32 kServiceAcceptShutdown = 0x04;
inline constexpr u32 kServiceAcceptParamChange = 0x08;
inline constexpr u32 kServiceAcceptNetBindChange = 0x10;

// Access rights of the manager.
inline constexpr u32 kScManagerConnect = 0x0001;
inline constexpr u32 kScManagerCreateService = 0x0002;
inline constexpr u32 kScManagerEnumerateService = 0x0004;
inline constexpr u32 kScManagerLock = 0x0008;
inline constexpr u32 kScManagerQueryLockStatus = 0x0010;
inline constexpr u32 kScManagerModifyBootConfig = 0x0020;
inline constexpr u32 kScManagerAllAccess = 0xF003F;

// Access rights of a service.
inline constexpr u32 kServiceQueryConfig = 0x0001;
inline constexpr u32 kServiceChangeConfig = 0x0002;
inline constexpr u32 kServiceQueryStatus = 0x0004;
inline constexpr u32 kServiceEnumerateDependents = 0x0008;
inline constexpr u32 kServiceStart = 0x0010;
inline constexpr u32 kServiceStop = 0x0020;
inline constexpr u32 kServicePauseContinue = 0x0040;
inline constexpr u32 kServiceInterrogate = 0x0080;
inline constexpr u32 kServiceUserDefinedControl = 0x0100;
inline constexpr u32 kDelete = 0x10000;
inline constexpr u32 kServiceAllAccess = 0xF01FF;

// Account stored when createService is given none.
inline constexpr const char* kLocalSystemAccount = "LocalSystem";

// Dependencies that count as present without a stand-in service of that
// name: system services that the platform always provides.
inline constexpr const char* kSystemServiceAllowList[] = {"tcpip"};

// The environment variable by which a started program's dispatcher knows it
// was started by the manager (and which service it is). The dispatcher takes
// it out of the environment, so the service's own child processes do not
// inherit it.
inline constexpr const char* kServiceMarkerVariable = "ZU_SERVICE_CONTROLLER";

struct ServiceStatus {
  u32 serviceType = 0;
  u32 currentState = 0;
  u32 controlsAccepted = 0;
  u32 win32ExitCode = 0;
  u32 serviceSpecificExitCode = 0;
  u32 checkPoint = 0;
  u32 waitHint = 0;
};

struct ServiceStatusProcess {
  u32 serviceType = 0;
  u32 currentState = 0;
  u32 controlsAccepted = 0;
  u32 win32ExitCode = 0;
  u32 serviceSpecificExitCode = 0;
  u32 checkPoint = 0;
  u32 waitHint = 0;
  u32 processId = 0;  // 0 when not running
  u32 serviceFlags = 0;
};

// The configuration as queryServiceConfig writes it: this record at the start
// of the caller's buffer (which must be aligned for it), the texts after it.
// dependencies is a block of NUL-terminated names ended by one more NUL.
struct QueryServiceConfig {
  u32 serviceType;
  u32 startType;
  u32 errorControl;
  char* binaryPathName;
  char* loadOrderGroup;
  u32 tagId;
  char* dependencies;
  char* serviceStartName;
  char* displayName;
};

// --- Manager side ---------------------------------------------------------

// Opens the local machine's active database (made under the root when
// missing). Fails with the error of the root folder.
ScHandle openScManager(u32 access);

// Opens a service: 1060 when none has that name (any case), 123 for a name
// that cannot be one. Needs kScManagerConnect on the manager.
ScHandle openService(ScHandle manager, const char* serviceName, u32 access);

// Installs a service and opens it with access: 1073 when the name is taken,
// 1072 when a service of that name is marked for delete and still running,
// 123 for a bad name (empty, over 256 bytes, a slash or backslash), 87 for a
// type other than own-process, a start type other than auto, demand or
// disabled, a bad error control or an empty path. displayName null means the
// service name; dependencies is null or a block of NUL-terminated names ended
// by one more NUL; serviceStartName null means LocalSystem. The Windows
// arguments for load-order group, tag and password are left out: none is
// supported. Needs kScManagerCreateService.
ScHandle createService(ScHandle manager, const char* serviceName, const char* displayName,
                       u32 access, u32 serviceType, u32 startType, u32 errorControl,
                       const char* binaryPathName, const char* dependencies,
                       const char* serviceStartName);

// Removes the service, at once when it is stopped, else it is marked for
// delete (it cannot be started again) and goes once it has stopped. 1072 when
// already marked. Needs kDelete.
bool deleteService(ScHandle service);

// Needs kServiceQueryStatus.
bool queryServiceStatus(ScHandle service, ServiceStatus* status);
bool queryServiceStatusEx(ScHandle service, ServiceStatusProcess* status);

// Writes the configuration into buffer: with a buffer of bufSize bytes that is
// too small (or none) the result is false with 122 and *bytesNeeded set to the
// size needed. Needs kServiceQueryConfig.
bool queryServiceConfig(ScHandle service, QueryServiceConfig* buffer, u32 bufSize,
                        u32* bytesNeeded);

// Starts the service and returns once its dispatcher has connected (the state
// is then start pending or later); argv (argc entries, may be null) follow the
// service name in the service main's arguments. 1056 when it is not stopped,
// 1058 disabled, 1075 a dependency missing, 1072 marked for delete, 2 when the
// program does not exist or is not an absolute path, 5 when it may not be
// run, 193 when it is not a program, 1053 when the dispatcher did not connect
// within the wait bound (the process is then killed). Needs kServiceStart.
bool startService(ScHandle service, u32 argc, const char* const* argv);

// Sends a control and returns the service's status as its handler left it.
// Connecting, sending and the answer share one deadline (the wait bound), so
// the call never takes much longer, however many callers wait or whatever the
// handler does; the service answers 1053 itself for a control that waited its
// bound behind a handler that has not returned.
// 1062 when the service is stopped, 1061 while it is start or stop pending (or
// has no handler yet), 1052 for a control it does not accept or for shutdown,
// 87 for an undefined code, 1053 when the handler does not answer within the
// wait bound. Needs kServiceStop, kServicePauseContinue, kServiceInterrogate
// or kServiceUserDefinedControl by the code.
bool controlService(ScHandle service, u32 control, ServiceStatus* status);

// One installed service as enumServicesStatusEx lists it.
struct EnumServiceStatusProcess {
  std::string serviceName;  // as created (its case kept)
  std::string displayName;
  ServiceStatusProcess status;
};

// Every installed service with its status, sorted by name without regard to
// case, as EnumServicesStatusEx lists own-process services in any state (a
// service marked for delete is listed until it goes). Needs
// kScManagerEnumerateService.
bool enumServicesStatusEx(ScHandle manager, std::vector<EnumServiceStatusProcess>& out);

// 6 for a handle that is not open.
bool closeServiceHandle(ScHandle handle);

// The image path split into program and arguments, as splitCommandLine
// (zuPlatformProcess.h) splits a command line.
std::vector<std::string> parseImagePath(std::string_view imagePath);

// --- Service side ----------------------------------------------------------

using ServiceMainFunction = void (*)(u32 argc, char** argv);
using HandlerFunction = void (*)(u32 control);

struct ServiceTableEntry {
  const char* serviceName;
  ServiceMainFunction serviceProc;
};

// Connects the process to the manager and runs the first entry's service
// main on a thread of its own with the service name and the start arguments;
// serves control requests on the calling thread and returns true once the
// service has reported STOPPED and its main has returned. table ends with a
// null entry. Fails at once with 1063 when the process was not started by the
// manager (run from a console), 1056 when called a second time.
bool startServiceCtrlDispatcher(const ServiceTableEntry* table);

// Registers the service's control handler, called on the dispatcher's thread.
// 1060 when no dispatcher runs in this process.
ServiceStatusHandle registerServiceCtrlHandler(const char* serviceName, HandlerFunction handler);

// Reports the service's status: written at once, atomically, for every
// manager to read. 6 for a bad handle, 13 for a state outside 1 to 7.
bool setServiceStatus(ServiceStatusHandle handle, const ServiceStatus* status);

// Test seam: the bound on waiting for a started program's dispatcher and for
// a control's answer (30000 ms unless set; std::nullopt restores it).
void setServiceWaitBoundForTest(std::optional<std::chrono::milliseconds> bound);

}  // namespace zuPlatform
