#include "loam/dns/zuMasterFileFormatLexer.h"

#include <limits>

#include "loam/dns/zuMasterFileErrors.h"

zuMasterFileFormatLexer::zuMasterFileFormatLexer() {
  setClass('(', kSingleChar);
  setClass(')', kSingleChar);
  setClass(';', kCommentStart);
  setReturnComments(true);
  setQuotesSplitWords(true);
  setStrictNul(true);
}

void zuMasterFileFormatLexer::reset() {
  zuCustomStreamLexer::reset();
  closeGroups();
}

u32 zuMasterFileFormatLexer::nextToken() {
  for (;;) {
    const u32 kind = zuCustomStreamLexer::nextToken();
    if (kind == '(') {
      if (depth_ == std::numeric_limits<i32>::max())
        raise(zuErrUnexpectedToken, zuTextUnexpectedToken, std::string());
      if (depth_ == 0) {
        returnEOL_ = false;
        groupLine_ = tokenLine();
      }
      ++depth_;
      continue;
    }
    if (kind == ')') {
      if (depth_ < 1) raise(zuErrUnexpectedToken, zuTextUnexpectedToken, std::string());
      if (--depth_ == 0) returnEOL_ = true;
      continue;
    }
    if (depth_ > 0) {
      if (kind == zuTokenKind::Comment) continue;
      // The end of a confined line is the end of the input as far as a group goes.
      if (kind == zuTokenKind::EndOfInput || (kind == zuTokenKind::EndOfLine && lineConfined())) {
        setTokenLine(groupLine_);
        raise(zuErrUnexpectedToken, zuTextExpectedGot, ")");
      }
    }
    return kind;
  }
}

bool zuMasterFileFormatLexer::skipDisabledMarker() {
  if (kind_ != zuTokenKind::Comment) return false;
  return setColumn(tokenColumn() + 6);
}
