#include "loam/threads/zuProcess.h"

#include <cstring>
#include <iostream>
#include <mutex>

#include "loam/base/zuErrorMessage.h"
#include "loam/base/zuException.h"
#include "loam/base/zuMessageTexts.h"
#include "loam/base/zuString.h"
#include "loam/platform/zuPlatformSocket.h"
#include "loam/threads/zuLog.h"
#include "loam/threads/zuMainThread.h"
#include "loam/threads/zuOSInfo.h"
#include "loam/threads/zuThread.h"

namespace {

constexpr const char* kSourceFile = ".\\shared\\loam\\threads\\zuProcess";
constexpr const char* kVersionText = "6.2 x64 [31019]";
constexpr const char* kBannerLine = "Part of the Tarnwell Suite.";

// Guards the current-process pointer, so a control event never reaches an
// object that is being destroyed. Recursive: a stop may ask for the current
// process itself.
std::recursive_mutex g_currentLock;
zuProcess* g_current = nullptr;

std::once_flag g_ctrlHandlerInstalled;

char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool isLevelDigit(const std::string& value) {
  return !value.empty() && value[0] >= '0' && value[0] <= '5';
}

// A log level is one digit, 0 to 5: "-ll5x" is as wrong as "-ll9".
bool isLevel(const std::string& value) { return value.size() == 1 && isLevelDigit(value); }

void logIncorrectArgument(const char* option) {
  zuLog::log(0, zuMessage("Incorrect argument for option \"$a\".", 'a', std::string(option)));
}

zuException internalError(const char* line) {
  return zuException(kzuCodeInternalError, kzuInternalErrorAtText, 'f', std::string(kSourceFile),
                     'l', std::string(line));
}

// "0x" and the value in upper-case hex without leading zeros, as %lX gives it.
char* appendHex(char* out, u64 value) {
  *out++ = '0';
  *out++ = 'x';
  char digits[16];
  int n = 0;
  do {
    const auto d = static_cast<unsigned>(value & 0xF);
    digits[n++] = static_cast<char>(d < 10 ? '0' + d : 'A' + d - 10);
    value >>= 4;
  } while (value != 0);
  while (n > 0) *out++ = digits[--n];
  return out;
}

char* appendText(char* out, const char* text) {
  const std::size_t n = std::strlen(text);
  std::memcpy(out, text, n);
  return out + n;
}

}  // namespace

zuProcess::zuProcess()
    : versionText_(kVersionText), stopEvent_(zuMainThread::instance().stopEvent()) {
  std::lock_guard<std::recursive_mutex> hold(g_currentLock);
  g_current = this;
}

zuProcess::~zuProcess() {
  std::lock_guard<std::recursive_mutex> hold(g_currentLock);
  if (g_current == this) g_current = nullptr;
}

zuProcess* zuProcess::current() {
  std::lock_guard<std::recursive_mutex> hold(g_currentLock);
  return g_current;
}

void zuProcess::markFailed() {
  if (exitCode_ == 0) exitCode_ = 1;
}

u32 zuProcess::run(u32 argc, char** argv) {
  exitCode_ = 0;
  zuMainThread::instance().attach();
  // Process-wide, once: the handler finds the current object itself.
  std::call_once(g_ctrlHandlerInstalled,
                 [] { zuPlatform::setConsoleCtrlHandler(consoleCtrlHandler, true); });
  zuPlatform::setUnhandledExceptionFilter(unhandledExceptionFilter);

  if (!callInit()) {
    markFailed();
    return exitCode_;
  }
  if (!zuPlatform::socketStartup()) {
    zuLog::log(0, zuMessage("Unable to start network library."));
    return 1;
  }

  options_.clear();
  for (u32 i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (!arg || !*arg || zuStrCompare(arg, "-debug", false) == 0) continue;
    options_.emplace_back(arg);
  }
  if (!parseArguments(options_)) {
    zuPlatform::socketCleanup();
    return exitCode_;
  }
  for (const zuOption& option : options_) {
    if (!option.consumed) {
      zuLog::log(0, zuMessage("Unknown option \"$a\".", 'a', option.text));
      zuPlatform::socketCleanup();
      return 1;
    }
  }
  callMain();
  zuPlatform::socketCleanup();
  return exitCode_;
}

bool zuProcess::callInit() {
  try {
    return preInitialize();
  } catch (const std::exception& e) {
    reportException(e);
  } catch (...) {
    reportException(internalError("510"));
  }
  return false;
}

void zuProcess::callMain() {
  try {
    initialize();
    main();
  } catch (const std::exception& e) {
    reportException(e);
    markFailed();
  } catch (...) {
    reportException(internalError("532"));
    markFailed();
  }
  try {
    cleanup();
  } catch (...) {
    // Clean-up is the last step; nothing is left to report it to.
  }
}

bool zuProcess::findOption(u32 nameLength, std::vector<zuOption>& options, u32& position,
                           std::string& value) {
  zuOption& option = options[position];
  option.consumed = true;
  if (option.text.size() > nameLength) {
    value = option.text.substr(nameLength);
    return true;
  }
  if (position + 1 < options.size()) {
    zuOption& next = options[position + 1];
    if (!next.text.empty() && next.text[0] != '-') {
      ++position;
      next.consumed = true;
      value = next.text;
      return true;
    }
  }
  return false;
}

bool zuProcess::parseArguments(std::vector<zuOption>& options) {
  for (u32 i = 0; i < options.size(); ++i) {
    zuOption& option = options[i];
    const std::string& text = option.text;
    if (option.consumed || text.size() < 2 || text[0] != '-') continue;
    const char third = text.size() >= 3 ? lowerAscii(text[2]) : '\0';
    std::string value;
    switch (lowerAscii(text[1])) {
      case '?':
      case 'h':
        option.consumed = true;
        printVersion();
        return false;
      case 'v':
        option.consumed = true;
        printVersionLines();
        return false;
      case 'l':
        if (third == 'l') {
          if (!findOption(3, options, i, value) || !isLevel(value)) {
            logIncorrectArgument("ll");
            markFailed();
            return false;
          }
          zuLog::setLogLevel(value[0] - '0');
        } else if (third == 'f') {
          if (findOption(3, options, i, value))
            zuLog::initFile(value);
          else
            zuLog::init(kDefaultName, zuLog::kModeFile);
        } else if (third == 'd') {
          if (!findOption(3, options, i, value) || !isLevelDigit(value)) {
            logIncorrectArgument("dl");
            markFailed();
            return false;
          }
        }
        break;
      case 'd':
        if (third == 'l') {
          if (!findOption(3, options, i, value) || !isLevelDigit(value)) {
            logIncorrectArgument("dl");
            markFailed();
            return false;
          }
          if (value.size() >= 5 && lowerAscii(value[4]) == 'f')
            zuLog::init(kDefaultName, zuLog::kModeFile);
        }
        break;
      default:
        break;
    }
  }
  return true;
}

void zuProcess::printVersionLines() {
  std::cout << name_ << ", version " << versionText_ << '\n'
            << "Build date: " << kBuildDate << '\n'
            << "Platform: " << zuGetOSDescription() << '\n'
            << std::flush;
}

void zuProcess::printVersion() {
  std::cout << '\n' << name_ << ", version " << versionText_;
  if (!displayName_.empty()) std::cout << " -- " << displayName_;
  std::cout << ".\n"
            << kBannerLine << '\n'
            << "Build date: " << kBuildDate << '\n'
            << "Platform: " << zuGetOSDescription() << '\n'
            << '\n'
            << std::flush;
}

bool zuProcess::preInitialize() { return true; }

void zuProcess::initialize() {}

void zuProcess::cleanup() {}

void zuProcess::reportException(const std::exception& e) {
  zuLog::log(0, zuThread::exceptionMessage(e));
}

void zuProcess::stop() {
  if (stopEvent_) stopEvent_->set();
}

bool zuProcess::isStopRequested() { return stopEvent_ && stopEvent_->isSet(); }

bool zuProcess::consoleCtrlHandler(u32 event) {
  if (event != zuPlatform::kCtrlCEvent && event != zuPlatform::kCtrlBreakEvent &&
      event != zuPlatform::kCtrlCloseEvent)
    return false;
  // Held while stopping, so the object cannot go away meanwhile.
  std::lock_guard<std::recursive_mutex> hold(g_currentLock);
  if (g_current) {
    try {
      // Not through the virtual table: the object may still be in its
      // constructor or already in its destructor, where that is changing.
      g_current->zuProcess::stop();
    } catch (...) {
      // The event could not be set; the request stays handled all the same.
    }
  }
  return true;
}

i32 zuProcess::unhandledExceptionFilter(const zuPlatform::ExceptionRecord* record) {
  char line[128];
  char* out = appendText(line, "Caught an unhandled exception ");
  out = appendHex(out, record ? record->code : 0);
  out = appendText(out, " at ");
  out = appendHex(out, record ? record->address : 0);
  zuPlatform::writeCrashText(line, static_cast<u32>(out - line));
  return 0;
}
