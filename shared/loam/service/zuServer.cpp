#include "loam/service/zuServer.h"

#include <sstream>

#include "loam/base/zuException.h"
#include "loam/base/zuFile.h"
#include "loam/base/zuMessage.h"
#include "loam/base/zuPath.h"
#include "loam/base/zuString.h"
#include "loam/net/zuNetStatus.h"
#include "loam/net/zuRSACryptor.h"
#include "loam/net/zuSecureTCPEndpoint.h"
#include "loam/net/zuStopEventSwap.h"
#include "loam/netobjects/zuGatherBudget.h"
#include "loam/netobjects/zuNetObjectErrors.h"
#include "loam/platform/zuPlatformMemory.h"
#include "loam/platform/zuPlatformResourceError.h"
#include "loam/platform/zuPlatformRoot.h"
#include "loam/threads/zuLog.h"
#include "loam/threads/zuMultiEvent.h"
#include "loam/threads/zuOSInfo.h"
#include "loam/threads/zuStMutex.h"
#include "loam/threads/zuThread.h"

namespace {

constexpr u16 kCodeDirectoryCreate = 1546;
constexpr const char* kEndpointFailedText = "Unable to create endpoint. Port might be in use.";

char upperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

void logOptionError(const char* text, const char* option) {
  zuLog::log(0, zuMessage(text, 'a', std::string(option)));
}

std::string portText(u16 port) { return zuUIntToString(port); }

// Creates path and whatever parents it lacks; true when it is a folder
// afterwards (also when another process made it meanwhile).
bool createFolderWithParents(const std::string& path) {
  if (path.empty()) return false;
  if (zuIsDirectory(path)) return true;
  std::string trimmed = path;
  while (trimmed.size() > 1 && zuIsPathSeparator(trimmed.back())) trimmed.pop_back();
  std::string parent;
  std::string name;
  zuSplitPath(trimmed, parent, name);
  if (!parent.empty() && parent != trimmed && !zuIsDirectory(parent) &&
      !createFolderWithParents(parent))
    return false;
  return zuCreateDirectory(trimmed) || zuIsDirectory(trimmed);
}

// The folder under parent, created when missing.
std::string folderIn(const std::string& parent, const char* name) {
  const std::string folder = zuAppendPath(parent, name);
  if (!zuIsDirectory(folder) && !createFolderWithParents(folder))
    throw zuException(kCodeDirectoryCreate, "Error creating directory \"$f\".", 'f', folder);
  return folder;
}

}  // namespace

zuServer::zuServer(u16, u32) {}

zuServer::~zuServer() {
  // A run that ended without its cleanup must not leave threads behind.
  stopHandlers();
}

// --- options ---------------------------------------------------------------

bool zuServer::parseArguments(std::vector<zuOption>& options) {
  for (u32 i = 0; i < options.size(); ++i) {
    zuOption& option = options[i];
    const std::string& text = option.text;
    if (option.consumed || text.size() < 2 || text[0] != '-') continue;
    std::string value;
    switch (upperAscii(text[1])) {
      case '4':
        option.consumed = true;
        addressFamily_ = kFamilyIPv4;
        break;
      case '6':
        option.consumed = true;
        addressFamily_ = kFamilyIPv6;
        break;
      case 'D':
        // "-dl3" and its kind belong to the logging options.
        if (text.size() == 4 && upperAscii(text[2]) == 'L') break;
        if (!findOption(2, options, i, value)) {
          logOptionError("Option \"$a\" requires an argument.", "d");
          markFailed();
          return false;
        }
        dataPath_ = value;
        break;
      case 'P': {
        if (!findOption(2, options, i, value)) {
          logOptionError("Option \"$a\" requires an argument.", "p");
          markFailed();
          return false;
        }
        u32 number = 0;
        if (!zuStrToUInt32(value.c_str(), number) || number == 0 || number > 0xFFFF) {
          logOptionError("Incorrect argument for option \"$a\".", "p");
          markFailed();
          return false;
        }
        port_ = static_cast<u16>(number);
        break;
      }
      default:
        break;
    }
  }
  return zuNTService::parseArguments(options);
}

// --- start-up --------------------------------------------------------------

void zuServer::openPreferences() {
  if (dataPath_.empty()) {
    std::string common;
    if (zuPlatform::commonAppDataFolder(common, true) != 0 || common.empty())
      throw zuException(zuErrFileOpen, "Error opening file \"$f\".", 'f',
                        std::string(kPreferenceFileName));
    dataPath_ = folderIn(folderIn(common, kCompanyFolder), kProductFolder);
  }
  preferences_.setFileName(zuAppendPath(dataPath_, kPreferenceFileName));
}

void zuServer::initialize() {
  zuLog::logf(5, "Starting %s, version %s", name_.c_str(), versionText_.c_str());
  zuLog::logf(5, "Build date: %s", kBuildDate);
  zuLog::logf(5, "Platform: %s", zuGetOSDescription().c_str());
  openPreferences();
  zuLog::logf(5, "Data path: \"%s\"", dataPath_.c_str());
  zuLog::logf(5, "Preference file: \"%s\"", preferences_.fileName().c_str());

  std::string arguments;
  {
    zuStMutex hold(preferences_.mutex());
    if (!preferences_.load() || !preferences_.values().get(kArgumentsEntry, arguments)) return;
  }
  std::vector<zuOption> entries;
  std::istringstream words(arguments);
  std::string word;
  while (words >> word) entries.emplace_back(word);
  if (entries.empty()) return;

  // The parse's result is not used, so a bad entry does not fail the run.
  const u32 exitCode = exitCode_;
  (void)parseArguments(entries);
  exitCode_ = exitCode;
  for (const zuOption& entry : entries) {
    if (!entry.consumed)
      zuLog::log(0, zuMessage("Unknown argument option \"$a\" found in preference file.", 'a',
                              entry.text));
  }
}

// --- the listening loop ----------------------------------------------------

std::unique_ptr<zuNetObjectHandler> zuServer::createHandler(std::unique_ptr<zuNetEndpoint> endpoint,
                                                            bool compress) {
  return std::make_unique<zuNetObjectHandler>(zuThread::currentThread(), std::move(endpoint),
                                              compress);
}

void zuServer::main() {
  zuLog::log(4, zuMessage("Starting listening on port [$p].", 'p', portText(port_)));
  auto endpoint = std::make_unique<zuSecureTCPEndpoint>(stopEvent(), zuNetEndpoint::kNoTimeout,
                                                        compressionOffer_ != 0);
  zuSecureTCPEndpoint& listener = *endpoint;
  listener.setFamily(addressFamily_);
  listeningEndpoint_ = std::move(endpoint);

  const u16 status = listener.listen(port_, bindAddress_);
  if (status == kzuCodeKeyGenerationFailed)
    throw zuException(kzuCodeKeyGenerationFailed,
                      "Unable to initialize crypting library. Random device not readable.");
  if (status != 0) throw zuException(zuErrFailed, kEndpointFailedText);
  if (port_ == 0) port_ = listener.localPort();
  zuLog::log(1, zuMessage("Listening started on port [$p].", 'p', portText(port_)));
  listening_ = 1;
  if (isStopRequested()) return;

  for (;;) {
    reapHandlers();
    admitPending();
    std::unique_ptr<zuNetEndpoint> accepted;
    bool handlerEnded = false;
    {
      // The accept also wakes when a handler ends, so an ended connection
      // gives back its thread and descriptors at once, not at the next
      // accept. A finished event stays set until its handler is reaped: one
      // that ended since the reap above cuts the wait short at once.
      zuMultiEvent wake(stopEvent(), &admissionWanted_);
      for (auto* list : {&handlers_, &pending_}) {
        for (const std::unique_ptr<zuNetObjectHandler>& handler : *list)
          wake.add(handler->finishedEvent());
      }
      zuStopEventSwap swap(&listener, &wake, stopEvent());
      // The handshake runs on the connection's own thread: a peer that stays
      // silent must not hold up the next accept.
      accepted = listener.acceptWithoutHandshake();
      handlerEnded = !accepted && wake.isSet();
    }
    if (!accepted) {
      if (isStopRequested()) return;
      if (handlerEnded) continue;
      const u32 error = listener.lastError();
      if (!zuPlatform::isResourceExhausted(error))
        throw zuException(zuErrFailed, kEndpointFailedText);
      // Out of descriptors or memory: the connection waits in the backlog
      // until handlers end and give theirs back.
      zuLog::logf(0, "Unable to accept a connection (system error %u); trying again.", error);
      reapHandlers();
      if (!zuThread::waitForObjects(kAcceptRetryMs, stopEvent())) return;
      continue;
    }
    // The connection was made under the wake set above; it stops with the
    // server until its handler gives it a stop event of its own.
    accepted->setStopEvent(stopEvent());
    const std::string peer = accepted->peerAddress().toString();
    reapHandlers();
    const u32 open = connectionCount();
    zuLog::log(3, zuMessage("Connection request from [$d]. Currently $i connection(s) open.", 'd',
                            peer, 'i', zuUIntToString(open)));
    if (!handshakeSlotFree(accepted->peerAddress())) {
      zuLog::log(3, zuMessage("Connection request from [$d] closed: too many unfinished "
                              "handshakes.",
                              'd', peer));
      accepted.reset();
    } else {
      // Past the limit the newcomer still makes its handshake; only then is
      // it given a slot or refused (admitPending).
      const bool full = open >= maxConnections_;
      std::unique_ptr<zuNetObjectHandler> handler =
          makeHandler(std::move(accepted), compressionOffer_ != 0, full, peer);
      if (handler) {
        zuLog::log(4, zuMessage("Starting net handler for [$d].", 'd', peer));
        handler->setFactories(factories_);
        if (startHandler(*handler, peer)) {
          if (full)
            pending_.push_back(std::move(handler));
          else
            addHandler(std::move(handler));
        }
      }
    }
    if (isStopRequested()) return;
  }
}

std::unique_ptr<zuNetObjectHandler> zuServer::makeHandler(std::unique_ptr<zuNetEndpoint> endpoint,
                                                          bool compress, bool admission,
                                                          const std::string& peer) {
  try {
    std::unique_ptr<zuNetObjectHandler> handler = createHandler(std::move(endpoint), compress);
    handler->setHandshakeOnStart(false);
    if (admission) handler->setAdmissionAfterHandshake(&admissionWanted_);
    return handler;
  } catch (const std::exception&) {
    // Out of descriptors for its events, or of memory: only this connection
    // is lost.
    zuLog::log(0,
               zuMessage("Unable to start a net handler for [$d]; connection dropped.", 'd', peer));
    return nullptr;
  }
}

bool zuServer::handshakeSlotFree(const zuIPAddress& address) const {
  u32 total = 0;
  u32 fromAddress = 0;
  for (const auto* list : {&handlers_, &pending_}) {
    for (const std::unique_ptr<zuNetObjectHandler>& handler : *list) {
      if (!handler->inHandshake()) continue;
      ++total;
      if (handler->peerAddress() == address) ++fromAddress;
    }
  }
  return total < maxHandshakes_ && fromAddress < maxHandshakesPerAddress_;
}

void zuServer::admitPending() {
  // Reset before the look, so a handshake that ends meanwhile wakes the
  // loop again.
  admissionWanted_.reset();
  for (auto it = pending_.begin(); it != pending_.end();) {
    zuNetObjectHandler& newcomer = **it;
    if (!newcomer.awaitsAdmission()) {
      ++it;
      continue;
    }
    const std::string peer = newcomer.peerAddress().toString();
    // Slots held by connections that are not already on their way out.
    u32 held = 0;
    zuNetObjectHandler* idlest = nullptr;
    u64 idlestMs = 0;
    for (const std::unique_ptr<zuNetObjectHandler>& handler : handlers_) {
      if (handler->state() == zuThread::kStateEnded || handler->stopEvent()->isSet()) continue;
      ++held;
      const u64 idle = handler->idleMs();
      if (idle >= idleLimitMs_ && idle > idlestMs) {
        idlest = handler.get();
        idlestMs = idle;
      }
    }
    if (held >= maxConnections_ && idlest == nullptr) {
      zuLog::log(0, zuMessage("Connection request from [$d] rejected.", 'd', peer));
      (void)newcomer.admit(false);
      ++it;
      continue;
    }
    // A newcomer that settled for a refusal meanwhile ends by itself.
    if (!newcomer.admit(true)) {
      ++it;
      continue;
    }
    if (held >= maxConnections_) {
      zuLog::log(3, zuMessage("Connection from [$d] idle for $s s closed to make room for [$n].",
                              'd', idlest->peerAddress().toString(), 's',
                              zuUIntToString(static_cast<u32>(idlestMs / 1000)), 'n', peer));
      idlest->stop(0);
    }
    addHandler(std::move(*it));
    it = pending_.erase(it);
  }
}

bool zuServer::startHandler(zuNetObjectHandler& handler, const std::string& peer) {
  try {
    handler.start();
    return true;
  } catch (const std::exception&) {
    // No thread for this connection: it is dropped, the server goes on.
    zuLog::log(0,
               zuMessage("Unable to start a net handler for [$d]; connection dropped.", 'd', peer));
    return false;
  }
}

void zuServer::cleanup() {
  if (listening_ != 0)
    zuLog::log(1, zuMessage("Listening stopped on port [$p].", 'p', portText(port_)));
  stopHandlers();
  listeningEndpoint_.reset();
}

// --- handler list ----------------------------------------------------------

void zuServer::reapHandlers() {
  const auto ended = [](const std::unique_ptr<zuNetObjectHandler>& handler) {
    return handler->state() == zuThread::kStateEnded;
  };
  const std::size_t before = handlers_.size() + pending_.size();
  std::erase_if(handlers_, ended);
  std::erase_if(pending_, ended);
  const std::size_t left = handlers_.size() + pending_.size();
  // What the ended connections' threads freed stays in their heap arenas
  // (after an attack, many megabytes): given back when the last connection
  // has gone, and at most once a second while others come and go. Only after
  // large gathering: a trim costs more than a whole short connection.
  if (left < before && (left == 0 || heapTrimTimer_.elapsed() >= kHeapTrimIntervalMs) &&
      zuGatherBudget::largeTakenSinceLastAsked()) {
    zuPlatform::returnFreeHeap();
    heapTrimTimer_.start();
  }
}

void zuServer::addHandler(std::unique_ptr<zuNetObjectHandler> handler) {
  handlers_.push_back(std::move(handler));
}

void zuServer::stopHandlers() {
  for (auto* list : {&handlers_, &pending_}) {
    for (std::unique_ptr<zuNetObjectHandler>& handler : *list) handler->stop(0);
  }
  for (auto* list : {&handlers_, &pending_}) {
    for (std::unique_ptr<zuNetObjectHandler>& handler : *list) {
      if (handler->state() != zuThread::kStateEnded &&
          zuThread::waitForObjects(stopWaitMs_, handler->finishedEvent())) {
        // Deleting it would free what its thread still uses; the process
        // ends soon, so it is let go instead.
        zuLog::log(0, zuMessage("Net handler for [$d] did not stop; abandoned.", 'd',
                                handler->peerAddress().toString()));
        (void)handler.release();
        continue;
      }
      handler.reset();
    }
    list->clear();
  }
}

// --- preferences -----------------------------------------------------------

bool zuServer::isUpgradable() {
  auto* server = dynamic_cast<zuServer*>(zuProcess::current());
  if (server == nullptr || server->isConsoleRun()) return false;
  return server->preferences_.lockedGetBool(kUpgradableEntry);
}
