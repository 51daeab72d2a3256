#pragma once
// A process that is a service or a console program from one executable.
// run chooses between the console run ("-debug"), a command action on the
// service's registration ("-i", "-u", "-start", "-stop", "-v", "-h") and the
// hand-over to the service control dispatcher. As a service it reports its
// state to the manager, serves its controls, sends its log lines to the event
// log and runs initialize, main and cleanup between running and stopped.
//
// The one service object of the process is the current zuProcess; the static
// service entry, the control handler and the stop-request handler find it
// through that pointer.
#include <list>
#include <mutex>
#include <string>
#include <vector>

#include "loam/platform/zuPlatformService.h"
#include "loam/platform/zuPlatformSignals.h"
#include "loam/platform/zuTypes.h"
#include "loam/service/zuServiceEventLog.h"
#include "loam/threads/zuProcess.h"

class zuNTService : public zuProcess {
 public:
  // The polls of "-start", "-stop" and "-u".
  static constexpr u32 kPollIntervalMs = 500;
  static constexpr u32 kPollLimitMs = 20000;
  // run's result for an option that nothing takes.
  static constexpr u32 kExitUnknownOption = 87;

  zuNTService();
  // Removes the event-log listener and closes the event source.
  ~zuNTService() override;

  u32 run(u32 argc, char** argv) override;
  // The logging options "-ll", "-lf", "-dl" and "-ld". False on a bad value
  // (exit code 1 then).
  bool parseArguments(std::vector<zuOption>& options) override;
  // The usage text, after the process frame's banner.
  void printVersion() override;

  // Carries out the command actions in their order; false when one was
  // taken (the run then ends with the exit code), true when none was.
  virtual bool processCommandLine(std::vector<zuOption>& options);
  virtual void onInterrogate();
  virtual void onPause();
  virtual void onContinue();
  virtual void onShutdown();
  // Codes 128 to 255; false: the code is not served.
  virtual bool onUserControl(u32 code);

  // The service main the dispatcher calls; forwards to the current service.
  static void serviceMainEntry(u32 argc, char** argv);
  // Runs on the dispatcher's thread, from start pending to stopped.
  void serviceMain(u32 argc, char** argv);
  // The registered control handler; forwards to the current service.
  static void controlHandler(u32 code);
  void handleControl(u32 code);
  // Stores the state in the status and reports it to the manager.
  bool setStatus(u32 state);

  bool install();
  bool uninstall();
  bool isInstalled();

  // Writes "Caught an unhandled exception 0x%lX at 0x%lX" to standard error
  // (the service's output log) and lets the search go on. It runs in signal
  // context, where the log's lock may not be taken.
  static i32 unhandledExceptionFilter(const zuPlatform::ExceptionRecord* record);

  // The event log under the service's name.
  static bool registerEventSource(const std::string& sourceName, const std::string& messageFile);
  bool reportEvent(u16 type, u16 category, u32 eventId, const char* text = nullptr);
  static bool logToEventLog(u32 level, const char* text);

  // The run was started with "-debug".
  bool isConsoleRun() const { return flag_ != 0; }
  const std::string& serviceName() const { return name_; }
  zuPlatform::ServiceStatus serviceStatus() const;

  void setProgressDots(bool on) { progressDots_ = on ? 1 : 0; }
  const std::string& serviceDisplayName() const { return serviceDisplayName_; }
  void setServiceDisplayName(const std::string& text) { serviceDisplayName_ = text; }
  const std::string& serviceDescription() const { return serviceDescription_; }
  void setServiceDescription(const std::string& text) { serviceDescription_ = text; }
  std::list<std::string>& dependencies() { return dependencies_; }

 protected:
  // The program file's full path in double quotes, as it is registered.
  static std::string quotedProgramPath();

  std::vector<zuOption>& commandLineOptions() { return options_; }

  u8 progressDots_ = 1;
  std::string serviceDisplayName_;
  std::string serviceDescription_;
  std::list<std::string> dependencies_{"tcpip"};

 private:
  static zuNTService* currentService();
  static void onStopRequest();

  void startAction();
  void stopAction();
  void uninstallAction();
  void versionAction();
  // Reads the state every kPollIntervalMs until it is wanted or the limit
  // has passed; returns the last state read.
  u32 pollForState(class zuServiceManager& manager, u32 wanted);
  void reportCurrentStatus();

  zuPlatform::ServiceStatusHandle statusHandle_ = zuPlatform::kServiceStatusHandleNone;
  // The control handler and the service main both report.
  mutable std::mutex statusLock_;
  zuPlatform::ServiceStatus status_{};
  // The system error of the last failed install.
  u32 installError_ = 0;
  zuServiceEventLog eventLog_;
};
