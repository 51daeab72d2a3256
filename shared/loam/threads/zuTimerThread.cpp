#include "loam/threads/zuTimerThread.h"

zuTimerThread::zuTimerThread(Callback callback, u32 intervalMs)
    : callback_(callback), intervalMs_(intervalMs) {}

zuTimerThread::~zuTimerThread() {
  stop(0);
  wait();
}

zuTimerThread::Callback zuTimerThread::setCallback(Callback callback) {
  return callback_.exchange(callback, std::memory_order_acq_rel);
}

void zuTimerThread::run() {
  zuTimer timer;
  zuEvent* stopped = stopEvent();
  if (stopped->isSet()) return;
  for (;;) {
    if (static_cast<i32>(intervalMs_ - timer.elapsed()) > 0)
      zuThread::waitForObjects(intervalMs_, stopped);
    if (stopped->isSet()) return;
    timer.start();
    if (Callback callback = callback_.load(std::memory_order_acquire)) callback();
    if (stopped->isSet()) return;
  }
}
