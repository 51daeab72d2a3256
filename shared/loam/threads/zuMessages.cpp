#include "loam/threads/zuMessages.h"

#include <iostream>
#include <list>
#include <string>
#include <utility>

#include "loam/base/zuErrorMessage.h"
#include "loam/base/zuMessageTexts.h"
#include "loam/platform/zuInitOrder.h"
#include "loam/platform/zuPlatformInitTrace.h"
#include "loam/threads/zuGlobalLocks.h"
#include "loam/threads/zuLog.h"
#include "loam/threads/zuStMutex.h"
#include "loam/threads/zuThread.h"

namespace {

// Both guarded by zuMessageQueueLock.
ZU_INIT_ORDER(ZU_INIT_MESSAGE_QUEUE) std::list<zuMessages::Entry> g_queue;
ZU_INIT_ORDER(ZU_INIT_MESSAGE_QUEUE) zuPlatform::InitNote g_queueNote{ZU_INIT_MESSAGE_QUEUE};
u32 g_mode = zuMessages::kModeQueue;

}  // namespace

void zuMessages::post(const zuMessage& message) {
  try {
    if (message.isEmpty()) return;
    zuStMutex hold(zuMessageQueueLock);
    switch (g_mode) {
      case kModeQueue:
        for (const Entry& entry : g_queue)
          if (entry.tag == 0 && entry.message == message) return;
        g_queue.push_back(Entry{0, message});
        break;
      case kModeLog:
        // The log takes its own lock, and no global lock is held while
        // another is taken: a listener that reads the queue while another
        // thread posts would deadlock otherwise.
        hold.unlock();
        zuLog::log(0, message);
        break;
      case kModeStandardError: {
        std::string text;
        message.format(text);
        std::cerr << text << '\n';
        std::cerr.flush();
        break;
      }
      default:
        break;
    }
  } catch (...) {
    // A message that cannot be delivered must not become a new failure.
  }
}

bool zuMessages::next(u32& tag, zuMessage& out) {
  zuStMutex hold(zuMessageQueueLock);
  if (g_queue.empty()) return false;
  tag = g_queue.front().tag;
  out = std::move(g_queue.front().message);
  g_queue.pop_front();
  return true;
}

void zuMessages::setMode(u32 mode) {
  zuStMutex hold(zuMessageQueueLock);
  g_mode = mode;
}

bool zuMessages::isEmpty() {
  zuStMutex hold(zuMessageQueueLock);
  return g_queue.empty();
}

void zuMessages::dropOldest() {
  zuStMutex hold(zuMessageQueueLock);
  if (!g_queue.empty()) g_queue.pop_front();
}

std::vector<zuMessages::Entry> zuMessages::pending() {
  zuStMutex hold(zuMessageQueueLock);
  return std::vector<Entry>(g_queue.begin(), g_queue.end());
}

void zuMessages::reportException(const std::exception& e) {
  try {
    post(zuThread::exceptionMessage(e));
  } catch (...) {
  }
}

void zuMessages::reportCurrentException() {
  // Outside a handler there is nothing to rethrow, and a bare rethrow there
  // would end the process.
  const std::exception_ptr current = std::current_exception();
  if (!current) return;
  try {
    std::rethrow_exception(current);
  } catch (const std::exception& e) {
    reportException(e);
  } catch (...) {
    reportUnknownException();
  }
}

void zuMessages::reportUnknownException() {
  try {
    post(zuErrorMessage(kzuCodeInternalError, kzuUnexpectedExceptionText, 'e',
                        std::string("unknown")));
  } catch (...) {
  }
}
