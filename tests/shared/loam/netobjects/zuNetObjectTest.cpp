#include <gtest/gtest.h>

#include <new>
#include <string>
#include <vector>

#include "NetTestSupport.h"
#include "loam/netobjects/zuNetObject.h"
#include "loam/netobjects/zuNetObjectErrors.h"
#include "loam/netobjects/zuNetObjectHandlerInterface.h"
#include "loam/netobjects/zuNetObjectTypes.h"
#include "loam/threads/zuLog.h"

namespace {

// Records what processData was given.
class Recorder : public zuNetObject {
 public:
  u8 getType() const override { return zuNOT_Connect; }
  bool isRequest() const override { return false; }
  u16 processData(zuNetReader& reader, u32 length) override {
    ++processed;
    readerStart = reader.getStart();
    readerLength = length;
    seen.assign(reader.getCurrent(), reader.getCurrent() + reader.bytesLeft());
    return result;
  }
  void onFinished() override { events.push_back("finished"); }

  int processed = 0;
  const u8* readerStart = nullptr;
  u32 readerLength = 0;
  std::vector<u8> seen;
  u16 result = 0;
  std::vector<std::string> events;
};

class FakeHandler : public zuNetObjectHandlerInterface {
 public:
  void queueObject(zuNetObject* object) override { queued.push_back(object); }
  std::string connectionText() const override { return "agent:10.0.0.7(4152)"; }
  std::vector<zuNetObject*> queued;
};

std::vector<u8> message(u32 n) {
  std::vector<u8> m(n);
  for (u32 i = 0; i < n; ++i) m[i] = static_cast<u8>(i * 7 + 1);
  return m;
}

// Delivers the message cut at the given sizes; the last piece carries the
// last flag.
void deliverInPieces(zuNetObject& o, const std::vector<u8>& m, const std::vector<u32>& sizes) {
  u32 at = 0;
  for (std::size_t i = 0; i < sizes.size(); ++i) {
    bool dropped = true;
    o.deliverChunk(m.data() + at, sizes[i], i + 1 == sizes.size(), dropped);
    EXPECT_FALSE(dropped);
    at += sizes[i];
  }
  ASSERT_EQ(at, m.size());
}

TEST(zuNetObjectTest, StartsEmpty) {
  Recorder o;
  EXPECT_EQ(o.getId(), 0);
  EXPECT_EQ(o.getState(), 0u);
  EXPECT_EQ(o.getSendState(), 0u);
  EXPECT_EQ(o.getErrorCode(), 0);
  EXPECT_TRUE(o.errorMessage().isEmpty());
  EXPECT_EQ(o.errorMessage().id(), zuErrorMessage::kClearedId);  // no text of its own
  EXPECT_EQ(o.getHandler(), nullptr);
  EXPECT_EQ(o.getReceivedCount(), 0u);
  EXPECT_EQ(o.getSendCount(), 0u);
  EXPECT_EQ(o.outgoing().size(), 0u);
  EXPECT_STREQ(o.getTypeName(), "NetObject");
  EXPECT_STREQ(o.getName(), "NetObject");
  EXPECT_TRUE(o.requiresAuthority());
  EXPECT_EQ(o.timeToNextAction(), 0u);
  EXPECT_EQ(o.peerAddressText(), "");
  EXPECT_FALSE(o.queueWithHandler());
}

TEST(zuNetObjectTest, OneChunkIsReadInPlace) {
  const std::vector<u8> m = message(100);
  Recorder o;
  bool dropped = true;
  EXPECT_EQ(o.deliverChunk(m.data(), 100, true, dropped), 0);
  EXPECT_FALSE(dropped);
  EXPECT_EQ(o.processed, 1);
  EXPECT_EQ(o.readerStart, m.data());  // no copy
  EXPECT_EQ(o.readerLength, 100u);
  EXPECT_EQ(o.seen, m);
  EXPECT_TRUE(o.receivedData().empty());
}

TEST(zuNetObjectTest, SplitMessagesGiveTheProcessingTheSameBytes) {
  const std::vector<u8> m = message(100);
  const std::vector<std::vector<u32>> splits = {
      {100}, {1, 99}, {10, 0, 50, 40}, {60, 40, 0}, {1, 1, 1, 97}, {0, 100},
  };
  for (const auto& split : splits) {
    SCOPED_TRACE(::testing::PrintToString(split));
    Recorder o;
    deliverInPieces(o, m, split);
    EXPECT_EQ(o.processed, 1);
    EXPECT_EQ(o.readerLength, 100u);
    EXPECT_EQ(o.seen, m);
    EXPECT_EQ(o.getReceivedCount(), split.size());
  }
}

TEST(zuNetObjectTest, NothingIsProcessedBeforeTheLastChunk) {
  const std::vector<u8> m = message(10);
  Recorder o;
  o.result = 772;
  bool dropped = false;
  EXPECT_EQ(o.deliverChunk(m.data(), 4, false, dropped), 0);
  EXPECT_EQ(o.processed, 0);
  EXPECT_EQ(o.deliverChunk(m.data() + 4, 6, true, dropped), 772);  // the result is passed on
  EXPECT_EQ(o.processed, 1);
}

TEST(zuNetObjectTest, LoneEmptyLastChunkGivesAnEmptyReader) {
  Recorder o;
  bool dropped = true;
  EXPECT_EQ(o.deliverChunk(nullptr, 0, true, dropped), 0);
  EXPECT_EQ(o.processed, 1);
  EXPECT_EQ(o.readerLength, 0u);
  EXPECT_TRUE(o.seen.empty());
}

std::vector<std::string> g_logLines;

bool takeLine(u32, const char* text) {
  g_logLines.push_back(text);
  return true;
}

// A worker may be reading the gathered bytes after the last chunk: nothing
// that arrives later for the exchange may touch them.
TEST(zuNetObjectTest, ChunksAfterTheLastAreDroppedAndLogged) {
  const std::vector<u8> m = message(20);
  Recorder o;
  FakeHandler h;
  o.setHandler(&h);
  o.setId(17);
  deliverInPieces(o, m, {8, 12});
  const u8* gathered = o.receivedData().data();
  ASSERT_EQ(o.receivedData().size(), 20u);

  const i32 level = zuLog::getLogLevel();
  zuLog::setLogLevel(4);
  g_logLines.clear();
  zuLog::addListener(&takeLine);
  for (bool last : {false, true}) {
    bool dropped = false;
    EXPECT_EQ(o.deliverChunk(m.data(), 5, last, dropped), 0);
    EXPECT_TRUE(dropped);
  }
  zuLog::removeListener(&takeLine);
  zuLog::setLogLevel(level);
  ASSERT_EQ(g_logLines.size(), 2u);
  EXPECT_EQ(g_logLines[0],
            "agent:10.0.0.7(4152): dropped 5 bytes for message 17 (type 2) after its last chunk.");
  EXPECT_EQ(o.processed, 1);
  EXPECT_EQ(o.getReceivedCount(), 2u);
  EXPECT_EQ(o.receivedData().data(), gathered);
  EXPECT_EQ(std::vector<u8>(o.receivedData().begin(), o.receivedData().end()), m);

  // A new exchange on the same object starts afresh.
  o.resetCounts();
  EXPECT_TRUE(o.receivedData().empty());
  deliverInPieces(o, m, {15, 5});
  EXPECT_EQ(o.processed, 2);
  EXPECT_EQ(o.seen, m);
}

TEST(zuNetObjectTest, OutgoingDataGoesOutInChunksOfAtMostTheMaximum) {
  Recorder o;
  const std::vector<u8> m = message(25);
  o.outgoing().putData(m.data(), 25);
  o.setErrorCode(0);
  o.prepareSend();
  EXPECT_EQ(o.getSendState(), 1u);
  EXPECT_EQ(o.getOutgoingRemaining(), 25u);

  struct Step {
    u32 maximum;
    u32 sent;
    bool last;
  };
  std::vector<u8> out;
  for (const Step& s :
       {Step{10, 10, false}, Step{10, 10, false}, Step{10, 5, true}, Step{10, 0, true}}) {
    u8 buffer[10];
    u16 error = 99;
    bool last = !s.last;
    EXPECT_EQ(o.sendData(buffer, s.maximum, error, last), s.sent);
    EXPECT_EQ(last, s.last);
    EXPECT_EQ(error, 0);
    out.insert(out.end(), buffer, buffer + s.sent);
  }
  EXPECT_EQ(out, m);
}

TEST(zuNetObjectTest, EmptyPayloadIsOneLastChunkOfNothing) {
  Recorder o;
  o.setErrorCode(772);
  o.prepareSend();
  u16 error = 0;
  bool last = false;
  EXPECT_EQ(o.sendData(nullptr, 30000, error, last), 0u);
  EXPECT_TRUE(last);
  EXPECT_EQ(error, 772);
}

TEST(zuNetObjectTest, PrepareSendRefusesAnInvalidWriter) {
  Recorder o;
  o.outgoing().putUInt8(1);
  EXPECT_THROW(o.outgoing().putData(nullptr, 0xFFFFFFFFu), std::out_of_range);
  EXPECT_THROW(o.prepareSend(), std::bad_alloc);
  EXPECT_EQ(o.getSendState(), 0u);
}

TEST(zuNetObjectTest, EndStatesRunOnFinishedThenTheCallback) {
  static std::vector<std::string>* log = nullptr;
  for (u32 state = 0; state <= 6; ++state) {
    SCOPED_TRACE(state);
    Recorder o;
    log = &o.events;
    o.setCompletionCallback([](zuNetObject*) { log->push_back("callback"); });
    o.setState(state);
    EXPECT_EQ(o.getState(), state);
    const bool end = state == 3 || state == 5 || state == 6;
    EXPECT_EQ(zuNetObject::isEndState(state), end);
    const std::vector<std::string> expected =
        end ? std::vector<std::string>{"finished", "callback"} : std::vector<std::string>{};
    EXPECT_EQ(o.events, expected);
  }
}

TEST(zuNetObjectTest, DeleteWhenDoneDeletesOnTheEndState) {
  static bool destroyed = false;
  struct Owned : Recorder {
    ~Owned() override { destroyed = true; }
  };
  auto* o = new Owned;
  zuNetObject::CompletionCallback mine = [](zuNetObject*) {};
  o->setCompletionCallback(mine);
  EXPECT_EQ(o->setDeleteWhenDone(), mine);
  o->setState(2);
  EXPECT_FALSE(destroyed);
  o->setState(6);  // deletes it; ASan would see any later touch
  EXPECT_TRUE(destroyed);
}

TEST(zuNetObjectTest, SucceededOnlyWhenDoneWithoutError) {
  struct Case {
    u32 state;
    u16 code;
    bool succeeded;
  };
  for (const Case& c : {Case{3, 0, true}, Case{3, 772, false}, Case{5, 0, false}, Case{6, 0, false},
                        Case{0, 0, false}, Case{1, 0, false}}) {
    Recorder o;
    o.setErrorCode(c.code);
    o.setState(c.state);
    EXPECT_EQ(o.isSucceeded(), c.succeeded) << c.state << "/" << c.code;
  }
}

TEST(zuNetObjectTest, ErrorsCarryTheirCodesAndTexts) {
  Recorder o;
  o.setFileOpenError("a.txt", "0x2");
  EXPECT_EQ(o.getErrorCode(), 1538);
  EXPECT_EQ(o.errorMessage().text(), "Error opening file \"$f\" error: $e.");
  EXPECT_EQ(o.errorMessage().toString(), "Error opening file \"a.txt\" error: 0x2.");

  o.setUnexpectedDataError();
  EXPECT_EQ(o.getErrorCode(), zuErrUnexpectedData);
  EXPECT_EQ(o.errorMessage().toString(),
            "Got unexpected data while handling the request. The server and the client might be "
            "incompatible.");
  EXPECT_EQ(o.errorMessage().paramCount(), 0u);  // the earlier error's parameters are gone

  o.setError(771, "Request of type \"$t\" is not supported.", 't', "9");
  EXPECT_EQ(o.getErrorCode(), 771);
  EXPECT_EQ(o.errorMessage().toString(), "Request of type \"9\" is not supported.");
  o.setErrorCode(5);
  EXPECT_EQ(o.errorMessage().code(), 5);
}

TEST(zuNetObjectTest, HandlerGetsTheObjectAndGivesItsConnectionText) {
  Recorder o;
  FakeHandler h;
  o.setHandler(&h);
  EXPECT_EQ(o.peerAddressText(), "agent:10.0.0.7(4152)");
  EXPECT_TRUE(o.queueWithHandler());
  ASSERT_EQ(h.queued.size(), 1u);
  EXPECT_EQ(h.queued[0], &o);
}

TEST(zuNetObjectTest, TypeNames) {
  struct Case {
    u8 type;
    const char* name;
  };
  for (const Case& c :
       {Case{1, "zuNOT_Login"}, Case{2, "zuNOT_Connect"}, Case{3, "zuNOT_Upgrade"},
        Case{6, "zuNOT_ReadFile"}, Case{7, "zuNOT_WriteFile"}, Case{200, "NetObject"}}) {
    EXPECT_STREQ(zuNetObjectTypeName(c.type), c.name) << int{c.type};
  }
}

}  // namespace
