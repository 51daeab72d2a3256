#include "update_agent/uaNResUpgrade.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <mutex>
#include <stdexcept>

#include "loam/base/zuFile.h"
#include "loam/base/zuMessage.h"
#include "loam/base/zuPath.h"
#include "loam/base/zuString.h"
#include "loam/netobjects/zuErrnoText.h"
#include "loam/netobjects/zuNetObjectErrors.h"
#include "loam/netobjects/zuNetObjectTypes.h"
#include "loam/platform/zuPlatformHandle.h"
#include "loam/platform/zuPlatformPrivateFile.h"
#include "loam/service/zuServiceManager.h"
#include "loam/threads/zuExec.h"
#include "loam/threads/zuLog.h"
#include "loam/threads/zuSingleEvent.h"
#include "loam/threads/zuThread.h"
#include "update_agent/uaVerifyUpgradeFile.h"

namespace {

std::mutex& verifierLock() {
  static std::mutex lock;
  return lock;
}

uaNResUpgrade::Verifier& verifierSlot() {
  static uaNResUpgrade::Verifier verifier;
  return verifier;
}

bool verifyFile(const std::string& path, const std::string& signature) {
  uaNResUpgrade::Verifier verifier;
  {
    std::lock_guard<std::mutex> hold(verifierLock());
    verifier = verifierSlot();
  }
  return verifier ? verifier(path, signature) : uaVerifyUpgradeFile(path, signature);
}

// Paths hold a name from the peer but are longer than a name: cut later.
constexpr std::size_t kPathLogLimit = 4096;

bool isHexDigitOrHyphen(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f') || c == '-';
}

}  // namespace

bool uaNResUpgrade::isProductCode(const std::string& text) {
  if (text.size() < 3 || text.front() != '{' || text.back() != '}') return false;
  return std::all_of(text.begin() + 1, text.end() - 1, isHexDigitOrHyphen);
}

uaNResUpgrade::Verifier uaNResUpgrade::setVerifier(Verifier verifier) {
  std::lock_guard<std::mutex> hold(verifierLock());
  Verifier previous = std::move(verifierSlot());
  verifierSlot() = std::move(verifier);
  return previous;
}

void uaNResUpgrade::removeStaleFolders() {
  zuPlatform::removeStalePrivateFolders(zuGetTempPath(), kFolderPrefix);
}

uaNResUpgrade::uaNResUpgrade() = default;

uaNResUpgrade::~uaNResUpgrade() {
  // The work reads the paths below; it must be over before they go.
  stopWork();
  if (!receivedPath_.empty()) zuDeleteFile(receivedPath_);
  if (!workFolder_.empty()) zuRemoveDirectoryTree(workFolder_);
}

u8 uaNResUpgrade::getType() const { return zuNOT_Login; }

const char* uaNResUpgrade::getTypeName() const { return "zuNOT_Login"; }

const char* uaNResUpgrade::getName() const { return "Upgrade"; }

bool uaNResUpgrade::requiresAuthority() const { return false; }

u16 uaNResUpgrade::fail(u16 code, const char* text) {
  setError(code, text);
  logError(errorMessage());
  return code;
}

u16 uaNResUpgrade::fail(u16 code, const char* text, char key, const std::string& value) {
  setError(code, text, key, value);
  logError(errorMessage());
  return code;
}

uaNResUpgrade::Head uaNResUpgrade::readHead(zuNetReader& reader) {
  Head head;
  head.kind = reader.getUInt8();
  head.fileName = reader.getStdString();
  head.argument = reader.getStdString();
  head.signature = reader.getStdString();
  head.size = reader.getUInt32();
  return head;
}

std::optional<uaNResUpgrade::Head> uaNResUpgrade::gatheredHead(std::size_t* headBytes) const {
  zuNetReader reader(received_.data(), static_cast<u32>(received_.size()));
  try {
    Head head = readHead(reader);
    if (headBytes) *headBytes = received_.size() - reader.bytesLeft();
    return head;
  } catch (const std::out_of_range&) {
    return std::nullopt;
  }
}

std::size_t uaNResUpgrade::maxGatheredBytes() const {
  return statedBytes_ != 0 ? statedBytes_ : kMaxFileSize + kHeaderRoom;
}

u16 uaNResUpgrade::failTooLarge(const std::string& fileName) {
  return fail(zuErrUnexpectedData, "Error updating file \"$f\". File is to large.", 'f', fileName);
}

void uaNResUpgrade::setGatheringLimitError() {
  // The head is known whenever the bound is the stated size; without a
  // head the bound is the largest file, which no head in its room allows.
  setUnexpectedDataError();
  logError(errorMessage());
}

u16 uaNResUpgrade::checkHead(const Head& head) {
  // The name becomes part of a path, and of log lines: nothing from the
  // network may lead outside the temporary folder or forge a line.
  if (!zuIsPlainFileName(head.fileName)) {
    logMessage(3, zuMessage("refused the file name \"$f\", not a plain name.", 'f', head.fileName));
    setUnexpectedDataError();
    logError(errorMessage());
    return zuErrUnexpectedData;
  }
  if (head.size > kMaxFileSize) return failTooLarge(head.fileName);
  return 0;
}

u16 uaNResUpgrade::receiveData(const u8* data, u32 length, bool last) {
  if (last || statedBytes_ != 0) return zuThreadedNetResponse::receiveData(data, length, last);
  const u16 gathered = zuThreadedNetResponse::receiveData(data, length, last);
  if (gathered != 0) return gathered;
  // Only while the head is still arriving; past it the stated size bounds
  // the exchange.
  std::size_t headBytes = 0;
  const std::optional<Head> head = gatheredHead(&headBytes);
  if (!head) {
    if (received_.size() < kHeaderRoom) return 0;
    setUnexpectedDataError();
    logError(errorMessage());
    return zuErrUnexpectedData;
  }
  if (const u16 refused = checkHead(*head)) return refused;
  statedBytes_ = headBytes + head->size;
  if (headBytes > kHeaderRoom || received_.size() > statedBytes_) {
    setUnexpectedDataError();
    logError(errorMessage());
    return zuErrUnexpectedData;
  }
  // Room for the whole request at once, so the buffer does not double its
  // way up to it (twice the file at the last copy). Pages the peer does not
  // fill are never touched, and the budget is charged only for what
  // arrives.
  received_.reserve(statedBytes_);
  return 0;
}

u16 uaNResUpgrade::run(zuNetReader& reader) {
  const Head head = readHead(reader);
  const u8 kind = head.kind;
  const std::string& fileName = head.fileName;
  const std::string& argument = head.argument;
  const std::string& signature = head.signature;
  const u32 size = head.size;
  zuLog::log(3, zuMessage("Upgrade request from [$d].", 'd', peerAddressText()));
  if (const u16 refused = checkHead(head)) return refused;

  // The signature covers the file alone: an argument that reaches the
  // installer's command line may only name a product.
  if (kind == kKindInstaller && !argument.empty() && !isProductCode(argument)) {
    setUnexpectedDataError();
    logError(errorMessage());
    return zuErrUnexpectedData;
  }

  const u16 stored = storeFile(reader, kind, fileName, size);
  if (stored != 0) return stored;
  zuLog::logf(5, "uaUpgradeThread: Upgrading <%s:%lu> to <%s>", zuLogText(fileName).c_str(),
              static_cast<unsigned long>(size), zuLogText(receivedPath_, kPathLogLimit).c_str());

  if (!verifyFile(receivedPath_, signature))
    return fail(zuErrFileWrite, "Error updating file \"$f\". Verification failed.", 'f',
                receivedPath_);

  zuEvent* stop = getStopEvent();
  switch (kind) {
    case kKindInstaller:
      runInstaller(argument, stop);
      return 0;
    case kKindService:
      return replaceServiceExecutable(argument, stop);
    default:
      runProgram(argument, stop);
      return 0;
  }
}

u16 uaNResUpgrade::storeFile(zuNetReader& reader, u8 kind, const std::string& fileName, u32 size) {
  const std::string tempFolder = zuGetTempPath();
  // A folder of its own: whatever others have put in the shared temporary
  // folder (a link under the same name, a folder) cannot redirect the file.
  std::string folder;
  if (const int error = zuPlatform::createPrivateFolder(tempFolder, kFolderPrefix, folder)) {
    setFileOpenError(zuAppendPath(tempFolder, fileName), zuErrnoText(error));
    logError(errorMessage());
    return zuErrFileOpen;
  }
  workFolder_ = folder;
  const std::string path = zuAppendPath(folder, fileName);
  receivedPath_ = path;

  // Every kind but the installer package is run as a program.
  errno = 0;
  const zuPlatform::Handle file = zuPlatform::createNewFile(path, kind != kKindInstaller);
  if (!zuPlatform::isValidHandle(file)) {
    setFileOpenError(path, zuErrnoText(errno));
    logError(errorMessage());
    return zuErrFileOpen;
  }
  struct Closer {
    zuPlatform::Handle handle;
    bool close() {
      const bool closed = zuPlatform::closeHandle(handle);
      handle = zuPlatform::kInvalidHandle;
      return closed;
    }
    ~Closer() { zuPlatform::closeHandle(handle); }
  } closer{file};
  if (reader.bytesLeft() != size) {
    setUnexpectedDataError();
    logError(errorMessage());
    return zuErrUnexpectedData;
  }
  const bool written = zuPlatform::writeAll(file, reader.getCurrent(), size);
  const bool closed = closer.close();
  if (!written || !closed) return fail(zuErrFileWrite, kzuFileWriteErrorText, 'f', path);
  return 0;
}

void uaNResUpgrade::runInstaller(const std::string& argument, zuEvent* stop) {
  std::string runs[2];
  u32 count = 0;
  if (!argument.empty()) runs[count++] = "/qn /x " + argument;
  runs[count++] = "/qn /i " + zuQuote(receivedPath_);
  for (u32 i = 0; i < count; ++i) {
    zuExec exec;
    if (!exec.runAndWait("msiexec", runs[i], stop) || exec.status() != 0)
      zuLog::logf(0, "Execution of msiexec \"%s\" failed with exit code %lu.",
                  zuLogText(runs[i]).c_str(), static_cast<unsigned long>(exec.status()));
  }
}

u16 uaNResUpgrade::replaceServiceExecutable(const std::string& serviceName, zuEvent* stop) {
  zuServiceManager manager;
  const zuPlatform::QueryServiceConfig* config = manager.queryConfig(serviceName);
  if (!config)
    return fail(kzuCodeServiceFailed, "Unable to locate service \"$s\".", 's', serviceName);
  const std::string executable =
      zuUnquote(config->binaryPathName ? config->binaryPathName : std::string());
  zuLog::logf(4, "Service \"%s\" found at \"%s\".", zuLogText(serviceName).c_str(),
              zuLogText(executable, kPathLogLimit).c_str());

  if (zuStrCompare(serviceName.c_str(), kAgentServiceName, false) == 0)
    return startSelfUpgrade(executable);

  zuLog::logf(1, "doUpdate: Stopping service <%s>", zuLogText(serviceName).c_str());
  if (manager.currentState(serviceName) != zuPlatform::kServiceStopped &&
      !manager.stop(serviceName))
    return fail(kzuCodeServiceFailed, "Unable to stop service \"$s\".", 's', serviceName);
  // The service gets time to let go of its executable.
  zuThread::waitForObjects(kServiceStopPauseMs, stop);

  const std::string backup = executable + ".bak";
  if (!zuCopyFile(executable, backup))
    zuLog::logf(0, "UpgradeThread: Unable to create a backup file \"%s\" for file \"%s\".",
                zuLogText(backup, kPathLogLimit).c_str(),
                zuLogText(executable, kPathLogLimit).c_str());
  else if (!zuCopyFile(receivedPath_, executable))
    zuLog::logf(0, "UpgradeThread: Unable to copy \"%s\" to \"%s\".",
                zuLogText(receivedPath_, kPathLogLimit).c_str(),
                zuLogText(executable, kPathLogLimit).c_str());

  zuLog::logf(4, "doUpdate: Starting service \"%s\".", zuLogText(serviceName).c_str());
  if (!manager.start(serviceName))
    return fail(kzuCodeServiceFailed, "Unable to start service \"$s\".", 's', serviceName);
  return 0;
}

u16 uaNResUpgrade::startSelfUpgrade(const std::string& executable) {
  const std::string& startup = zuGetModuleDirectory();
  if (!zuSetCurrentDirectory(startup))
    return fail(kzuCodeServiceFailed,
                "Unable to set the current directory to startup directory \"$s\".", 's', startup);
  const std::string command = std::string("cmd /K ") + kUpgradeScript;
  const std::string arguments = zuQuote(executable) + " " + zuQuote(receivedPath_);
  zuLog::write(1, "Upgrade: starting an upgrade on our selfs");
  zuLog::logf(1, "Upgrade: starting an upgrade script <%s %s>", command.c_str(),
              zuLogText(arguments, kPathLogLimit).c_str());
  // The script outlives this response: it replaces the agent and restarts it.
  zuExec exec;
  const bool started = exec.start(command, arguments);
  if (!started)
    zuLog::logf(0, "Execution of external script \"%s\" failed with exit code %lu.",
                command.c_str(), static_cast<unsigned long>(exec.status()));
  zuLog::logf(1, "doUpdate: script <%s %s> is DONE", command.c_str(),
              zuLogText(arguments, kPathLogLimit).c_str());
  // Left for the script; without one nothing would ever remove it.
  if (started) {
    receivedPath_.clear();
    workFolder_.clear();
  }
  return 0;
}

void uaNResUpgrade::runProgram(const std::string& argument, zuEvent* stop) {
  zuExec exec;
  if (!exec.runAndWait(zuQuote(receivedPath_), argument, stop) || exec.status() != 0)
    zuLog::logf(0, "Execution of \"%s\" \"%s\" failed with exit code %lu.",
                zuLogText(receivedPath_, kPathLogLimit).c_str(), zuLogText(argument).c_str(),
                static_cast<unsigned long>(exec.status()));
}
