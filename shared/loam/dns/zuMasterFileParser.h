#pragma once
// Reads zone master-file text (what the zone writer produces, and ordinary
// hand-written zone files) into records, one at a time or into a collection.
// Handles "$TTL", "$ORIGIN", "$INCLUDE" (through a nested parser) and
// "$GENERATE", owner and TTL inheritance, "[AGE:...]" aging values, records
// disabled inside ";<!dis:...>" comments, and the per-type rdata rules.
// Escapes stay in the record text as written.
//
// Input is hostile: a line is capped by the lexer, a "$GENERATE" directive by
// maxGenerated(), all the directives of one input (its included files too) by
// maxGeneratedTotal(), and an include is opened only when it is a regular file
// (inside includeRoot() when one is set); an included file includes nothing.
// A disabled record is read from its own comment only: nothing inside one is
// carried out and it changes no parser state (owner, TTL, SOA).
#include <memory>
#include <string>

#include "loam/dns/zuCustomParser.h"
#include "loam/dns/zuMasterFileFormatLexer.h"
#include "loam/platform/zuTypes.h"

class zuRecordCollection;
class zuResourceRecord;

class zuMasterFileParser : public zuCustomParser {
 public:
  static constexpr u64 kDefaultMaxGenerated = 65536;
  static constexpr u64 kDefaultMaxGeneratedTotal = 262144;

  // Opens the file; one that cannot be opened is reported (zuErrFileOpen) by
  // the first read.
  zuMasterFileParser(const std::string& fileName, const std::string& origin, bool originKnown,
                     bool includesNotAllowed);
  // No input yet: a name for messages and an origin (not known).
  zuMasterFileParser(const std::string& name, const std::string& origin);
  ~zuMasterFileParser() override;

  bool openFile(const std::string& name) override;
  // Reads from a caller's stream (not owned) under a name for messages.
  void setStream(std::istream& stream, const std::string& name);

  void reset() override;
  const char* tokenText() override;

  bool nextRecord(std::string& name, std::string& ttl, u32& type, std::string& rdata,
                  std::string& comment, std::string& aging, bool& enabled);
  bool nextRecord(std::string& name, std::string& ttl, u32& type, std::string& rdata,
                  std::string& comment, bool& enabled);
  bool fillRecord(zuResourceRecord& record);
  void parse(zuRecordCollection& collection, bool requireSOA);

  void qualifyName(std::string& name) const;
  static u32 lookupClass(const char* text);
  static u32 lookupDirective(const char* text);
  void restOfLine(std::string& text);

  const std::string& origin() const { return origin_; }
  void setOrigin(const std::string& origin, bool known) {
    origin_ = origin;
    originKnown_ = known;
  }
  bool originKnown() const { return originKnown_; }
  const std::string& zoneTTL() const { return zoneTTL_; }
  const std::string& currentTTL() const { return currentTTL_; }
  const std::string& soaMinimum() const { return soaMinimum_; }
  // Whether the last record returned is the zone's SOA (the first live one).
  bool lastWasZoneSOA() const { return lastWasSOA_; }

  void setKeepComments(bool on) { keepComments_ = on; }
  void setParseDisabled(bool on) { parseDisabled_ = on; }
  void setKeepDirectives(bool on) { keepDirectives_ = on; }
  // Includes are opened only below this folder (empty: anywhere).
  void setIncludeRoot(const std::string& folder) { includeRoot_ = folder; }
  const std::string& includeRoot() const { return includeRoot_; }
  void setMaxGenerated(u64 records) { maxGenerated_ = records; }
  u64 maxGenerated() const { return maxGenerated_; }
  // Records that "$GENERATE" may make from one input, included files counted;
  // a directive that would pass it is refused whole (zuErrInvalidRange). A
  // new input (openFile, setStream) or reset starts the count again.
  void setMaxGeneratedTotal(u64 records) { maxGeneratedTotal_ = records; }
  u64 maxGeneratedTotal() const { return maxGeneratedTotal_; }
  void setMaxLineLength(u32 bytes) { lexer_mf_.setMaxLineLength(bytes); }

 private:
  struct Fields {
    std::string* name;
    std::string* ttl;
    u32* type;
    std::string* rdata;
    std::string* comment;
    std::string* aging;
  };

  void init();
  bool readNext(const Fields& out, bool& enabled);
  bool readDisabled(const Fields& out);
  bool directive(const Fields& out);
  bool recordLine(const Fields& out, bool ownerless, bool rawRdata);
  void readRdata(u32 type, std::string& rdata, bool raw);
  void readSOA(std::string& rdata);
  void readLOC(std::string& rdata);
  void finishLine(std::string& comment);
  bool generate(const Fields& out);
  void generated(const Fields& out);
  std::string substitute(const std::string& pattern, i64 counter);
  void readText(std::string& field);
  std::string qualifiedTemplate(const std::string& pattern) const;
  void openInclude(const std::string& file, const std::string& origin);
  void expectWord();
  static bool isTTL(const char* text);
  // The TTL text a record line without one takes here (empty: the zone's).
  const std::string& inheritedTTL() const {
    static const std::string kNone;
    if (ttlChanged_) return currentTTL_;
    return ttlDirectiveSeen_ ? kNone : lastStatedTTL_;
  }

  zuMasterFileFormatLexer lexer_mf_;
  std::unique_ptr<zuMasterFileParser> include_;
  std::string origin_;
  bool originKnown_ = false;
  bool keepComments_ = true;
  bool parseDisabled_ = true;
  std::string soaMinimum_;
  std::string zoneTTL_;
  std::string currentTTL_;
  bool ttlChanged_ = false;
  std::string previousOwner_;
  bool haveOwner_ = false;
  // The owner of the last record read, generated ones included.
  std::string lastOwner_;
  bool haveLastOwner_ = false;
  // RFC 1035: without "$TTL", a record without TTL takes the last one stated.
  bool ttlDirectiveSeen_ = false;
  std::string lastStatedTTL_;
  bool ignoreSOA_ = false;
  bool soaSeen_ = false;
  bool keepDirectives_ = true;
  char separator_ = '\t';
  u32 disabledColumn_ = 0;
  bool inDisabled_ = false;
  bool lastWasSOA_ = false;
  std::string includeRoot_;
  u64 maxGenerated_ = kDefaultMaxGenerated;
  u64 maxGeneratedTotal_ = kDefaultMaxGeneratedTotal;
  // Records the generators of this input have been given; an included file's
  // parser counts into its includer's.
  u64 generated_ = 0;
  u64* generatedTotal_ = &generated_;
  std::string openFailed_;

  // Generator: counts from start to stop by step; idle when counter > stop.
  i64 genCounter_ = 0;
  i64 genStop_ = -1;
  i64 genStep_ = 1;
  u32 genType_ = 0;
  std::string genTTL_;
  std::string genOwner_;
  bool genOwnerIsOrigin_ = false;
  std::string genRdata_;
};
