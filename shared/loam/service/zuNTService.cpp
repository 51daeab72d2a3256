#include "loam/service/zuNTService.h"

#include <iostream>

#include "loam/base/zuFile.h"
#include "loam/base/zuMessage.h"
#include "loam/base/zuString.h"
#include "loam/base/zuTimer.h"
#include "loam/platform/zuPlatformError.h"
#include "loam/platform/zuPlatformEventLog.h"
#include "loam/platform/zuPlatformRegistry.h"
#include "loam/platform/zuPlatformSocket.h"
#include "loam/platform/zuPlatformThread.h"
#include "loam/service/zuServiceManager.h"
#include "loam/threads/zuLog.h"
#include "loam/threads/zuMainThread.h"
#include "loam/threads/zuOSInfo.h"

namespace zp = zuPlatform;

namespace {

constexpr const char* kServicesKey = "SYSTEM\\CurrentControlSet\\Services\\";

char upperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool isLevelDigit(const std::string& value) {
  return !value.empty() && value[0] >= '0' && value[0] <= '5';
}

// A log level is one digit, 0 to 5: "-ll5x" is as wrong as "-ll9".
bool isLevel(const std::string& value) { return value.size() == 1 && isLevelDigit(value); }

void logIncorrectArgument(const char* option) {
  zuLog::log(0, zuMessage("Incorrect argument for option \"$a\".", 'a', std::string(option)));
}

void logUnknownOption(const std::string& text) {
  zuLog::log(0, zuMessage("Unknown option \"$a\".", 'a', text));
}

// The program file's name without its folder.
std::string programFileName() {
  const std::string& path = zuGetModulePath();
  const auto slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

zuNTService::zuNTService() : eventLog_(name_) {
  status_.serviceType = zp::kServiceWin32OwnProcess;
  status_.controlsAccepted = zp::kServiceAcceptStop;
}

zuNTService::~zuNTService() {
  // eventLog_ leaves the log's listeners and closes its source itself.
}

zuNTService* zuNTService::currentService() { return dynamic_cast<zuNTService*>(current()); }

// --- run and the command line ----------------------------------------------

u32 zuNTService::run(u32 argc, char** argv) {
  for (u32 i = 1; i < argc; ++i) {
    if (argv[i] && zuStrCompare(argv[i], "-debug", false) == 0) {
      flag_ = 1;
      return zuProcess::run(argc, argv);
    }
  }
  exitCode_ = 0;
  options_.clear();
  for (u32 i = 1; i < argc; ++i) {
    if (argv[i] && *argv[i]) options_.emplace_back(argv[i]);
  }
  if (!processCommandLine(options_)) return exitCode_;
  for (const zuOption& option : options_) {
    if (!option.consumed) {
      logUnknownOption(option.text);
      return kExitUnknownOption;
    }
  }
  const zp::ServiceTableEntry table[] = {{name_.c_str(), serviceMainEntry}, {nullptr, nullptr}};
  // Fails at once (1063) when a console, not the manager, started the program.
  zp::startServiceCtrlDispatcher(table);
  return exitCode_;
}

bool zuNTService::processCommandLine(std::vector<zuOption>& options) {
  bool acted = false;
  for (zuOption& option : options) {
    const std::string& text = option.text;
    if (option.consumed || text.size() < 2 || text[0] != '-') continue;
    switch (upperAscii(text[1])) {
      case '?':
      case 'H':
        option.consumed = true;
        printVersion();
        return false;
      case 'I':
        option.consumed = true;
        acted = true;
        if (isInstalled()) {
          std::cout << name_ << " is already installed.\n";
        } else if (install()) {
          std::cout << name_ << " installed.\n";
        } else {
          std::cout << name_ << " failed to install. Error " << installError_ << ".\n";
          // A failed install is not a success for whoever ran it.
          exitCode_ = installError_;
        }
        break;
      case 'S':
        if (zuStrCompare(text.c_str(), "-start", false) == 0) {
          option.consumed = true;
          acted = true;
          startAction();
        } else if (zuStrCompare(text.c_str(), "-stop", false) == 0) {
          option.consumed = true;
          acted = true;
          stopAction();
        }
        break;
      case 'U':
        option.consumed = true;
        acted = true;
        uninstallAction();
        break;
      case 'V':
        option.consumed = true;
        acted = true;
        versionAction();
        break;
      default:
        break;
    }
    std::cout << std::flush;
  }
  return !acted;
}

u32 zuNTService::pollForState(zuServiceManager& manager, u32 wanted) {
  zuTimer timer;
  u32 state = manager.currentState(name_);
  while (state != wanted && timer.elapsed() < kPollLimitMs) {
    if (progressDots_) std::cout << '.' << std::flush;
    zp::sleepFor(kPollIntervalMs);
    state = manager.currentState(name_);
  }
  return state;
}

void zuNTService::startAction() {
  zuServiceManager manager;
  if (manager.currentState(name_) == zp::kServiceStopped) {
    if (progressDots_) std::cout << "Starting " << name_ << "." << std::flush;
    u32 state = zp::kServiceStopped;
    if (manager.start(name_)) state = pollForState(manager, zp::kServiceRunning);
    std::cout << (state == zp::kServiceRunning ? " Service started.\n"
                                               : " Unable to start the service.\n");
  } else {
    std::cout << name_ << " is not in stopped state.\n";
  }
  exitCode_ = manager.lastError();
}

void zuNTService::stopAction() {
  zuServiceManager manager;
  if (manager.currentState(name_) == zp::kServiceRunning) {
    if (progressDots_) std::cout << "Stopping " << name_ << "." << std::flush;
    u32 state = zp::kServiceRunning;
    if (manager.stop(name_)) state = pollForState(manager, zp::kServiceStopped);
    std::cout << (state == zp::kServiceStopped ? " Service stopped.\n"
                                               : " Unable to stop the service.\n");
  } else {
    std::cout << name_ << " is not running.\n";
  }
  exitCode_ = manager.lastError();
}

void zuNTService::uninstallAction() {
  if (!isInstalled()) {
    std::cout << name_ << " is not installed.\n";
    return;
  }
  zuServiceManager manager;
  if (manager.currentState(name_) == zp::kServiceRunning) {
    if (progressDots_) std::cout << name_ << " is running.\nStopping the service." << std::flush;
    u32 state = zp::kServiceRunning;
    if (manager.stop(name_)) state = pollForState(manager, zp::kServiceStopped);
    std::cout << (state == zp::kServiceStopped ? " Service stopped.\n"
                                               : " Unable to stop the service.\n");
  }
  exitCode_ = manager.lastError();
  if (uninstall()) {
    std::cout << name_ << " removed. You must delete the file (" << zuGetModulePath()
              << ") yourself.\n";
  } else {
    std::cout << "Could not remove " << name_ << "\n";
  }
}

void zuNTService::versionAction() {
  printVersionLines();
  if (isInstalled()) {
    std::cout << "The service is currently installed";
    if (zuServiceManager().currentState(name_) == zp::kServiceRunning) std::cout << " and running";
    std::cout << '\n';
  } else {
    std::cout << "The service is not installed.\n";
  }
}

void zuNTService::printVersion() {
  zuProcess::printVersion();
  std::cout << "usage: " << programFileName() << " [-i][-u][-start][-stop][-v][-h]\n"
            << "where:  i     Installs the services.\n"
            << "        u     Uninstalls the services.\n"
            << "        start Starts the service.\n"
            << "        stop  Stops the service.\n"
            << "        v     Prints out version information.\n"
            << "        h     Prints this help screen.\n"
            << std::flush;
}

bool zuNTService::parseArguments(std::vector<zuOption>& options) {
  for (u32 i = 0; i < options.size(); ++i) {
    zuOption& option = options[i];
    const std::string& text = option.text;
    if (option.consumed || text.size() < 2 || text[0] != '-') continue;
    const char first = lowerAscii(text[1]);
    const char second = text.size() >= 3 ? lowerAscii(text[2]) : '\0';
    std::string value;
    if (first == 'l' && second == 'l') {
      if (!findOption(3, options, i, value) || !isLevel(value)) {
        logIncorrectArgument("ll");
        markFailed();
        return false;
      }
      zuLog::setLogLevel(value[0] - '0');
    } else if (first == 'l' && second == 'f') {
      if (findOption(3, options, i, value))
        zuLog::initFile(value);
      else
        zuLog::init(kDefaultName, zuLog::kModeFile);
    } else if ((first == 'd' && second == 'l') || (first == 'l' && second == 'd')) {
      if (!findOption(3, options, i, value) || !isLevelDigit(value)) {
        logIncorrectArgument("dl");
        markFailed();
        return false;
      }
      if (first == 'd' && value.size() >= 5 && lowerAscii(value[4]) == 'f')
        zuLog::init(kDefaultName, zuLog::kModeFile);
    }
  }
  return true;
}

// --- the service -----------------------------------------------------------

void zuNTService::serviceMainEntry(u32 argc, char** argv) {
  if (zuNTService* service = currentService()) service->serviceMain(argc, argv);
}

void zuNTService::serviceMain(u32 argc, char** argv) {
  zuLog::init(name_.c_str(), zuLog::kModeService);
  eventLog_.attachToLog();
  {
    std::lock_guard<std::mutex> hold(statusLock_);
    status_ = zp::ServiceStatus{};
    status_.serviceType = zp::kServiceWin32OwnProcess;
    status_.currentState = zp::kServiceStartPending;
    status_.controlsAccepted = zp::kServiceAcceptStop;
  }
  const auto handle = zp::registerServiceCtrlHandler(name_.c_str(), controlHandler);
  {
    // The control handler's thread reports status through it.
    std::lock_guard<std::mutex> hold(statusLock_);
    statusHandle_ = handle;
  }
  if (handle == zp::kServiceStatusHandleNone) {
    reportEvent(zp::kEventLogErrorType, 0, kzuEventHandlerNotInstalled);
    return;
  }
  setStatus(zp::kServiceStartPending);
  zp::setUnhandledExceptionFilter(unhandledExceptionFilter);
  // A SIGTERM is the manager's stop too, while the service main runs.
  zp::setStopRequestHandler(onStopRequest);
  struct StopHandlerGuard {
    ~StopHandlerGuard() { zp::setStopRequestHandler(nullptr); }
  } stopHandlerGuard;
  zuMainThread::instance().attach();

  if (!zp::socketStartup()) {
    zuLog::log(0, zuMessage("Unable to start network library."));
    setStatus(zp::kServiceStopped);
    return;
  }
  if (!callInit()) {
    zp::socketCleanup();
    setStatus(zp::kServiceStopped);
    return;
  }
  for (u32 i = 1; i < argc; ++i) {
    if (argv[i] && *argv[i]) options_.emplace_back(argv[i]);
  }
  (void)parseArguments(options_);
  for (const zuOption& option : options_) {
    if (!option.consumed) logUnknownOption(option.text);
  }
  reportEvent(zp::kEventLogInformationType, 0, kzuEventServiceStarted);
  {
    std::lock_guard<std::mutex> hold(statusLock_);
    status_.checkPoint = 0;
    status_.waitHint = 0;
  }
  setStatus(zp::kServiceRunning);
  callMain();
  zp::socketCleanup();
  setStatus(zp::kServiceStopped);
}

void zuNTService::controlHandler(u32 code) {
  if (zuNTService* service = currentService()) service->handleControl(code);
}

void zuNTService::onStopRequest() { controlHandler(zp::kServiceControlStop); }

void zuNTService::handleControl(u32 code) {
  switch (code) {
    case zp::kServiceControlStop:
      // The service main reports stopped once the main work has ended.
      setStatus(zp::kServiceStopPending);
      stop();
      reportEvent(zp::kEventLogInformationType, 0, kzuEventServiceStopped);
      return;
    case zp::kServiceControlPause:
      onPause();
      break;
    case zp::kServiceControlContinue:
      onContinue();
      break;
    case zp::kServiceControlInterrogate:
      onInterrogate();
      break;
    case zp::kServiceControlShutdown:
      onShutdown();
      break;
    default:
      if (code < zp::kServiceControlUserFirst || code > zp::kServiceControlUserLast ||
          !onUserControl(code)) {
        reportEvent(zp::kEventLogErrorType, 0, kzuEventUnsupportedRequest);
      }
      break;
  }
  reportCurrentStatus();
}

bool zuNTService::setStatus(u32 state) {
  std::lock_guard<std::mutex> hold(statusLock_);
  status_.currentState = state;
  return zp::setServiceStatus(statusHandle_, &status_);
}

void zuNTService::reportCurrentStatus() {
  std::lock_guard<std::mutex> hold(statusLock_);
  zp::setServiceStatus(statusHandle_, &status_);
}

zp::ServiceStatus zuNTService::serviceStatus() const {
  std::lock_guard<std::mutex> hold(statusLock_);
  return status_;
}

void zuNTService::onInterrogate() {}

void zuNTService::onPause() {}

void zuNTService::onContinue() {}

void zuNTService::onShutdown() {}

bool zuNTService::onUserControl(u32) { return false; }

i32 zuNTService::unhandledExceptionFilter(const zp::ExceptionRecord* record) {
  return zuProcess::unhandledExceptionFilter(record);
}

// --- registration ----------------------------------------------------------

std::string zuNTService::quotedProgramPath() { return zuQuote(zuGetModulePath()); }

bool zuNTService::install() {
  const std::string path = quotedProgramPath();
  zuServiceManager manager;
  if (!manager.create(name_, serviceDisplayName_.empty() ? name_ : serviceDisplayName_, path,
                      dependencies_)) {
    installError_ = manager.lastError();
    return false;
  }
  reportEvent(zp::kEventLogInformationType, 0, kzuEventServiceInstalled, name_.c_str());
  if (!registerEventSource(name_, path)) {
    zuLog::log(0, zuMessage("Unable to register application for EventLog."));
  }
  const std::string& description = serviceDescription_.empty() ? displayName_ : serviceDescription_;
  zp::RegKey key = zp::kRegKeyNone;
  const std::string subkey = kServicesKey + name_;
  if (zp::regCreateKeyEx(zp::kRegLocalMachine, subkey.c_str(), zp::kKeyAllAccess, &key, nullptr) !=
      zp::kErrorSuccess) {
    zuLog::log(0, zuMessage("Unable to add to service registry."));
    return true;
  }
  if (!description.empty()) {
    zp::regSetValueEx(key, "Description", zp::kRegSz,
                      reinterpret_cast<const u8*>(description.c_str()),
                      static_cast<u32>(description.size() + 1));
  }
  zp::regCloseKey(key);
  return true;
}

bool zuNTService::uninstall() {
  zuServiceManager manager;
  if (manager.remove(name_)) {
    reportEvent(zp::kEventLogInformationType, 0, kzuEventServiceRemoved, name_.c_str());
    return true;
  }
  reportEvent(zp::kEventLogErrorType, 0, kzuEventServiceNotRemoved, name_.c_str());
  exitCode_ = manager.lastError();
  return false;
}

bool zuNTService::isInstalled() { return zuServiceManager().isInstalled(name_); }

// --- event log -------------------------------------------------------------

bool zuNTService::registerEventSource(const std::string& sourceName,
                                      const std::string& messageFile) {
  return zuServiceEventLog::registerEventSource(sourceName, messageFile);
}

bool zuNTService::reportEvent(u16 type, u16 category, u32 eventId, const char* text) {
  return eventLog_.reportEvent(type, category, eventId, text);
}

bool zuNTService::logToEventLog(u32 level, const char* text) {
  return zuServiceEventLog::logToEventLog(level, text);
}
