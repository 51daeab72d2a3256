#include <gtest/gtest.h>

#include <new>
#include <stdexcept>

#include "loam/base/zuException.h"
#include "loam/base/zuMessageTexts.h"
#include "loam/threads/zuThread.h"

namespace {

TEST(ExceptionMessage, ZuExceptionGivesItsOwnMessage) {
  zuException ex(1541, "File $f failed.", 'f', "a.msi");
  zuErrorMessage m = zuThread::exceptionMessage(ex);
  EXPECT_EQ(m.code(), 1541);
  EXPECT_EQ(m.toString(), "File a.msi failed.");
}

TEST(ExceptionMessage, UnspecifiedErrorGetsItsCodeAsE) {
  zuErrorMessage m = zuThread::exceptionMessage(zuException(300, kzuUnspecifiedErrorText));
  EXPECT_EQ(m.code(), 300);
  EXPECT_EQ(m.toString(),
            "An unspecified error \"300\" occurred.  Please notify Tarnwell Technical Support.");
  // An "e" already present is kept.
  zuErrorMessage k =
      zuThread::exceptionMessage(zuException(300, kzuUnspecifiedErrorText, 'e', "disk"));
  EXPECT_EQ(k.paramRef('e'), "disk");
}

TEST(ExceptionMessage, BadAllocIs259) {
  zuErrorMessage m = zuThread::exceptionMessage(std::bad_alloc());
  EXPECT_EQ(m.code(), 259);
  EXPECT_EQ(m.toString(), "Could not perform operation because available memory is exhausted.");
}

TEST(ExceptionMessage, OtherStdExceptionIs261WithWhat) {
  zuErrorMessage m = zuThread::exceptionMessage(std::out_of_range("zuNetReader::getData"));
  EXPECT_EQ(m.code(), 261);
  EXPECT_EQ(m.paramRef('e'), "zuNetReader::getData");
  EXPECT_EQ(m.toString(),
            "An unexpected exception \"zuNetReader::getData\" occurred.  Please notify Tarnwell "
            "Technical Support.");
}

TEST(ExceptionMessage, EmptyZuExceptionGivesEmptyResult) {
  zuErrorMessage m = zuThread::exceptionMessage(zuException(0, ""));
  EXPECT_TRUE(m.isEmpty());
  EXPECT_EQ(m.code(), 0);
}

}  // namespace
