#include "loam/netobjects/zuResponseThread.h"

#include "loam/netobjects/zuThreadedNetResponse.h"

zuResponseThread::zuResponseThread(zuThreadedNetResponse& response)
    : zuThread(nullptr), response_(response) {
  setText(response.getName());
}

zuResponseThread::~zuResponseThread() = default;

void zuResponseThread::run() { response_.runWork(*this); }

void zuResponseThread::onExit() { response_.onThreadExit(*this); }
