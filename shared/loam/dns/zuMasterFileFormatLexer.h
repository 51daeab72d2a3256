#pragma once
// The lexer of zone master files: ';' comments, and '(' ... ')' joining the
// lines between them into one logical line (no end-of-line tokens and no
// comments inside). Parentheses are counted, never followed recursively.
#include "loam/dns/zuCustomStreamLexer.h"

class zuMasterFileFormatLexer : public zuCustomStreamLexer {
 public:
  zuMasterFileFormatLexer();

  // Also ends every open group.
  void reset() override;
  u32 nextToken() override;

  // After a comment token, moves the cursor past the six characters of the
  // "<!dis:" marker so that the commented-out text is read as tokens; false
  // when that lies outside the line.
  bool skipDisabledMarker();
  i32 depth() const { return depth_; }
  // Ends every open group, as if its ')' had been read.
  void closeGroups() {
    if (depth_ > 0) returnEOL_ = true;
    depth_ = 0;
  }

 private:
  i32 depth_ = 0;
  // Where the outermost open group began: an input that ends inside it names
  // that line.
  u32 groupLine_ = 0;
};
