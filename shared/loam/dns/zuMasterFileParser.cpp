#include "loam/dns/zuMasterFileParser.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "loam/base/zuException.h"
#include "loam/base/zuString.h"
#include "loam/dns/zuMasterFileErrors.h"
#include "loam/dns/zuRRType.h"
#include "loam/dns/zuRecordCollection.h"
#include "loam/dns/zuResourceRecord.h"
#include "loam/dns/zuTextChecks.h"

namespace {

struct NamedCode {
  const char* name;
  u32 code;
};
constexpr u32 kGenerate = 1;
constexpr u32 kInclude = 2;
constexpr u32 kOrigin = 3;
constexpr u32 kTTLDirective = 4;
constexpr u32 kClassIN = 1;
constexpr u32 kClassCS = 2;
constexpr u32 kClassCH = 3;
constexpr u32 kClassHS = 4;
// Sorted by upper-case name, searched by bisection.
constexpr NamedCode kDirectives[] = {{"$GENERATE", kGenerate},
                                     {"$INCLUDE", kInclude},
                                     {"$ORIGIN", kOrigin},
                                     {"$TTL", kTTLDirective}};
constexpr NamedCode kClasses[] = {
    {"CH", kClassCH}, {"CS", kClassCS}, {"HS", kClassHS}, {"IN", kClassIN}};

template <std::size_t N>
u32 lookup(const NamedCode (&table)[N], const char* text) {
  if (text == nullptr) return 0;
  const NamedCode* end = table + N;
  const NamedCode* at = std::lower_bound(table, end, text, [](const NamedCode& row, const char* t) {
    return zuStrCompare(row.name, t, false) < 0;
  });
  return at != end && zuStrCompare(at->name, text, false) == 0 ? at->code : 0;
}

// Decimal digits only, at most 18 of them, so sums of two never overflow.
bool parseCount(std::string_view text, i64& value) {
  if (text.empty() || text.size() > 18) return false;
  value = 0;
  for (char c : text) {
    if (!zuIsDigit(static_cast<u8>(c))) return false;
    value = value * 10 + (c - '0');
  }
  return true;
}

// A generated owner or rdata never needs more than a name's escaped text.
constexpr std::size_t kMaxGeneratedText = 1024;

bool isGeneratedType(u32 type) {
  return type == zuRRType::kA || type == zuRRType::kNS || type == zuRRType::kCNAME ||
         type == zuRRType::kPTR || type == zuRRType::kAAAA || type == zuRRType::kDNAME;
}

// Restores the lexer and the parser's disabled state however the read ends.
class DisabledScope {
 public:
  DisabledScope(zuMasterFileFormatLexer& lexer, bool& inDisabled, u32& column, u32 start)
      : lexer_(lexer), inDisabled_(inDisabled), column_(column) {
    lexer_.setClass('>', zuCustomStreamLexer::kCommentStart);
    lexer_.setLineConfined(true);
    inDisabled_ = true;
    column_ = start;
  }
  ~DisabledScope() {
    // The marker is a comment whatever it held: a group it opened ends with it.
    lexer_.closeGroups();
    lexer_.clearClass('>', zuCustomStreamLexer::kCommentStart);
    lexer_.setLineConfined(false);
    inDisabled_ = false;
    column_ = 0;
  }
  DisabledScope(const DisabledScope&) = delete;
  DisabledScope& operator=(const DisabledScope&) = delete;

 private:
  zuMasterFileFormatLexer& lexer_;
  bool& inDisabled_;
  u32& column_;
};

bool isControl(char c) { return static_cast<u8>(c) < 32 || static_cast<u8>(c) == 127; }

// A raw control byte in a field (a TAB inside quotes, any other byte as read)
// is kept as "\DDD": a TAB is the boundary between the rdata's fields, and the
// written line holds no control byte. An escaped one (a backslash and the
// byte) is that escape alone, so that the text means the same byte.
void escapeControls(std::string& field) {
  if (std::none_of(field.begin(), field.end(), isControl)) return;
  std::string out;
  out.reserve(field.size() + 8);
  bool escaped = false;
  for (char c : field) {
    const auto b = static_cast<u8>(c);
    if (isControl(c)) {
      if (!escaped) out.push_back('\\');
      out.push_back(static_cast<char>('0' + b / 100));
      out.push_back(static_cast<char>('0' + (b / 10) % 10));
      out.push_back(static_cast<char>('0' + b % 10));
      escaped = false;
      continue;
    }
    out.push_back(c);
    escaped = !escaped && c == '\\';
  }
  field = std::move(out);
}

// A name holds no string: a quoted word where a name stands keeps its quotes
// as characters of the name, escaped, and so does every delimiter between
// them, so that the name is one word however it is written.
void escapeQuotedName(std::string& name) {
  if (name.find('"') == std::string::npos) return;
  std::string out;
  bool escaped = false;
  bool quoted = false;
  bool changed = false;
  for (char c : name) {
    if (!escaped && (c == '"' || (quoted && (c == ' ' || c == ';' || c == '(' || c == ')' ||
                                             c == '>')))) {
      if (c == '"') quoted = !quoted;
      out.push_back('\\');
      changed = true;
    }
    out.push_back(c);
    escaped = !escaped && c == '\\';
  }
  if (changed) name = std::move(out);
}

// Inside a disabled record's text a '>' ends the record: one there is "\062".
void escapeGreater(std::string& text) {
  if (text.find('>') == std::string::npos) return;
  std::string out;
  bool escaped = false;
  for (char c : text) {
    if (c == '>' && !escaped)
      out += "\\062";
    else
      out.push_back(c);
    escaped = !escaped && c == '\\';
  }
  text = std::move(out);
}

// The bytes a character-string stands for ("\DDD" and "\x" count one each).
std::size_t decodedLength(std::string_view text) {
  std::size_t length = 0;
  for (std::size_t i = 0; i < text.size(); ++length) {
    if (text[i] != '\\' || i + 1 >= text.size()) {
      ++i;
      continue;
    }
    const bool digits = i + 3 < text.size() && zuIsDigit(static_cast<u8>(text[i + 1])) &&
                        zuIsDigit(static_cast<u8>(text[i + 2])) &&
                        zuIsDigit(static_cast<u8>(text[i + 3]));
    i += digits ? 4 : 2;
  }
  return length;
}

// A character-string holds at most 255 bytes.
constexpr std::size_t kMaxStringBytes = 255;

// Whether text (escapes kept) ends in a digit escape short of three digits,
// read as the lexer reads it ("\4" is the digit itself): joined to a piece
// that starts with a digit, it would become another escape ("\4" "53" reads
// back as "\453").
bool endsInShortDigitEscape(const std::string& text) {
  const std::size_t n = text.size();
  std::size_t shortAt = std::string::npos;
  for (std::size_t i = 0; i < n;) {
    if (text[i] != '\\' || i + 1 >= n) {
      ++i;
      continue;
    }
    if (i + 3 < n && zuIsDigit(static_cast<u8>(text[i + 1])) &&
        zuIsDigit(static_cast<u8>(text[i + 2])) && zuIsDigit(static_cast<u8>(text[i + 3]))) {
      i += 4;
      continue;
    }
    if (zuIsDigit(static_cast<u8>(text[i + 1]))) shortAt = i;
    i += 2;
  }
  if (shortAt == std::string::npos) return false;
  for (std::size_t i = shortAt + 1; i < n; ++i)
    if (!zuIsDigit(static_cast<u8>(text[i]))) return false;
  return true;
}

}  // namespace

zuMasterFileParser::zuMasterFileParser(const std::string& fileName, const std::string& origin,
                                       bool originKnown, bool includesNotAllowed) {
  init();
  origin_ = origin;
  originKnown_ = originKnown;
  includesNotAllowed_ = includesNotAllowed;
  if (!lexer_mf_.openFile(fileName)) openFailed_ = fileName;
}

zuMasterFileParser::zuMasterFileParser(const std::string& name, const std::string& origin) {
  init();
  origin_ = origin;
  lexer_mf_.setStream(nullptr, name, false);
}

zuMasterFileParser::~zuMasterFileParser() = default;

void zuMasterFileParser::init() {
  lexer_ = &lexer_mf_;
  lexer_mf_.disableEscapes();
  lexer_mf_.setReturnEOL(true);
}

bool zuMasterFileParser::openFile(const std::string& name) {
  // Nothing of an earlier input, finished or failed, reaches into this one.
  reset();
  openFailed_.clear();
  return lexer_mf_.openFile(name);
}

void zuMasterFileParser::setStream(std::istream& stream, const std::string& name) {
  reset();
  openFailed_.clear();
  lexer_mf_.setStream(&stream, name, false);
}

void zuMasterFileParser::reset() {
  include_.reset();
  soaSeen_ = false;
  genCounter_ = 0;
  genStop_ = -1;
  generated_ = 0;
  lexer_mf_.closeGroups();
  lexer_mf_.setReturnEOL(true);
}

const char* zuMasterFileParser::tokenText() {
  const char* text = lexer_->tokenText();
  if (kind_ == zuTokenKind::Word && text[0] == '@' && text[1] == 0) return origin_.c_str();
  return text;
}

void zuMasterFileParser::qualifyName(std::string& name) const {
  if (!originKnown_ || name.empty() || name.back() == '.' || origin_.empty()) return;
  if (origin_.front() != '.') name.push_back('.');
  name += origin_;
}

u32 zuMasterFileParser::lookupClass(const char* text) { return lookup(kClasses, text); }

u32 zuMasterFileParser::lookupDirective(const char* text) { return lookup(kDirectives, text); }

void zuMasterFileParser::restOfLine(std::string& text) {
  nextToken();
  if (kind_ != zuTokenKind::Word) return;
  const u32 line = lexer_->lineNumber();
  const u32 start = lexer_->tokenColumn();
  u32 end = start + lexer_->tokenLength();
  while (nextToken() == zuTokenKind::Word && lexer_->lineNumber() == line)
    end = lexer_->tokenColumn() + lexer_->tokenLength();
  text = lexer_->lineText(start, end);
}

bool zuMasterFileParser::isTTL(const char* text) {
  u32 seconds = 0;
  return zuParseTimeSpan(text, static_cast<u32>(std::strlen(text)), seconds);
}

void zuMasterFileParser::expectWord() {
  if (kind_ != zuTokenKind::Word) throwErrorText(zuErrUnexpectedToken, zuTextUnexpectedToken, "");
}

bool zuMasterFileParser::nextRecord(std::string& name, std::string& ttl, u32& type,
                                    std::string& rdata, std::string& comment, std::string& aging,
                                    bool& enabled) {
  const Fields out{&name, &ttl, &type, &rdata, &comment, &aging};
  return readNext(out, enabled);
}

bool zuMasterFileParser::nextRecord(std::string& name, std::string& ttl, u32& type,
                                    std::string& rdata, std::string& comment, bool& enabled) {
  std::string aging;
  return nextRecord(name, ttl, type, rdata, comment, aging, enabled);
}

bool zuMasterFileParser::fillRecord(zuResourceRecord& record) {
  std::string name, ttl, rdata, comment, aging;
  u32 type = 0;
  bool enabled = true;
  if (!nextRecord(name, ttl, type, rdata, comment, aging, enabled)) return false;
  record.setName(name);
  record.setTTL(ttl);
  record.setType(type);
  record.setData(rdata);
  record.setComment(comment);
  record.setAging(aging);
  record.setEnabled(enabled);
  return true;
}

bool zuMasterFileParser::readNext(const Fields& out, bool& enabled) {
  lastWasSOA_ = false;
  for (;;) {
    if (!inDisabled_) {
      if (include_) {
        if (include_->readNext(out, enabled)) return true;
        // Without "$TTL" on either side, the TTL last stated in the included
        // file goes on (its owner and any "$TTL" or "$ORIGIN" do not).
        if (!ttlDirectiveSeen_ && !include_->ttlDirectiveSeen_)
          lastStatedTTL_ = include_->lastStatedTTL_;
        include_.reset();
      }
      if (genCounter_ <= genStop_) {
        generated(out);
        enabled = true;
        return true;
      }
      if (!openFailed_.empty()) {
        const std::string file = openFailed_;
        openFailed_.clear();
        throwErrorText(zuErrFileOpen, zuTextFileOpen, file);
      }
    }
    const u32 kind = nextToken();
    if (kind == zuTokenKind::EndOfInput) return false;
    if (kind == zuTokenKind::EndOfLine) {
      if (inDisabled_) return false;
      continue;
    }
    out.name->clear();
    out.ttl->clear();
    *out.type = zuRRType::kNone;
    out.rdata->clear();
    out.comment->clear();
    out.aging->clear();
    if (kind == zuTokenKind::Comment) {
      if (inDisabled_) {
        // ";<!dis:>text": a disabled comment line.
        if (lexer_mf_.tokenPrefix() != ">") return false;
        *out.comment = lexer_->tokenText();
        return true;
      }
      std::string text = lexer_->tokenText();
      if (parseDisabled_ && zuStartsWithNoCase(text.c_str(), "<!dis:") && readDisabled(out)) {
        enabled = false;
        return true;
      }
      if (!keepComments_) continue;
      out.name->clear();
      out.ttl->clear();
      *out.type = zuRRType::kNone;
      out.rdata->clear();
      out.aging->clear();
      *out.comment = std::move(text);
      enabled = true;
      return true;
    }
    if (kind == zuTokenKind::Word) {
      if (lexer_->tokenText()[0] == '$') {
        // Nothing inside a disabled marker is carried out.
        if (inDisabled_) return false;
        if (directive(out)) {
          enabled = true;
          return true;
        }
        continue;
      }
      if (recordLine(out, false, false)) {
        enabled = true;
        return true;
      }
      continue;
    }
    throwErrorText(zuErrUnexpectedToken, zuTextUnexpectedToken, "");
  }
}

bool zuMasterFileParser::readDisabled(const Fields& out) {
  const u32 start = lexer_->tokenColumn() + 6;
  if (!lexer_mf_.skipDisabledMarker()) return false;
  bool got = false;
  {
    DisabledScope scope(lexer_mf_, inDisabled_, disabledColumn_, start);
    bool enabled = true;
    try {
      got = readNext(out, enabled);
    } catch (const zuException&) {
      // A marker whose text is no record is a note like any other comment.
      got = false;
    }
    lastWasSOA_ = false;
  }
  // Not a record: the whole comment stays an ordinary comment.
  if (!got) lexer_->skipRestOfLine();
  return got;
}

void zuMasterFileParser::finishLine(std::string& comment) {
  if (kind_ == zuTokenKind::Comment) {
    comment = lexer_->tokenText();
    nextToken();
  }
  if (kind_ != zuTokenKind::EndOfLine && kind_ != zuTokenKind::EndOfInput)
    throwErrorText(zuErrExpectedEndOfLine, zuTextExpectedEndOfLine, "");
}

bool zuMasterFileParser::directive(const Fields& out) {
  const u32 which = lookupDirective(lexer_->tokenText());
  const u32 line = lexer_->lineNumber();
  const u32 start = lexer_->tokenColumn();
  switch (which) {
    case kTTLDirective: {
      if (nextToken() != zuTokenKind::Word)
        throwErrorText(zuErrIncorrectTTL, zuTextIncorrectTTL, "");
      const std::string value = tokenText();
      if (!isTTL(value.c_str())) throwErrorText(zuErrIncorrectTTL, zuTextIncorrectTTL, "");
      ttlDirectiveSeen_ = true;
      if (zoneTTL_.empty()) {
        zoneTTL_ = currentTTL_ = value;
      } else {
        currentTTL_ = value;
        if (value != zoneTTL_) ttlChanged_ = true;
      }
      nextToken();
      std::string comment;
      finishLine(comment);
      return false;
    }
    case kOrigin: {
      nextToken();
      expectWord();
      std::string value = tokenText();
      escapeQuotedName(value);
      escapeControls(value);
      qualifyName(value);
      origin_ = value;
      originKnown_ = true;
      nextToken();
      std::string comment;
      finishLine(comment);
      return false;
    }
    case kInclude: {
      if (includesNotAllowed_)
        throwErrorText(zuErrIncludeNotSupported, zuTextIncludeNotSupported, "");
      nextToken();
      expectWord();
      std::string raw = lexer_->tokenText();
      std::string file = raw;
      if (file.size() >= 2 && file.front() == '"' && file.back() == '"')
        file = file.substr(1, file.size() - 2);
      u32 end = lexer_->tokenColumn() + lexer_->tokenLength();
      std::string includeOrigin = origin_;
      std::string originWord;
      if (nextToken() == zuTokenKind::Word) {
        originWord = lexer_->tokenText();
        includeOrigin = tokenText();
        qualifyName(includeOrigin);
        end = lexer_->tokenColumn() + lexer_->tokenLength();
        nextToken();
      }
      const bool sameLine = lexer_->lineNumber() == line;
      std::string comment;
      finishLine(comment);
      if (keepDirectives_) {
        *out.type = zuRRType::kInclude;
        // The TTL its records without one take; the writer states it when it
        // is not the zone's.
        *out.ttl = inheritedTTL();
        // Written back, the line stands where no "$ORIGIN" is: the origin it was
        // read under becomes explicit.
        const bool explicitOrigin = originKnown_ && !includeOrigin.empty() &&
                                    (originWord.empty() || originWord != includeOrigin);
        if (sameLine && kind_ == zuTokenKind::EndOfLine && !explicitOrigin) {
          *out.rdata = lexer_->lineText(start, end);
        } else {
          *out.rdata = "$INCLUDE " + raw;
          if (explicitOrigin)
            *out.rdata += " " + includeOrigin;
          else if (!originWord.empty())
            *out.rdata += " " + originWord;
        }
        *out.comment = comment;
        return true;
      }
      openInclude(file, includeOrigin);
      return false;
    }
    case kGenerate:
      return generate(out);
    default:
      break;
  }
  lexer_->raise(zuErrUnexpectedToken, zuTextUnexpectedToken, "");
}

void zuMasterFileParser::openInclude(const std::string& file, const std::string& origin) {
  namespace fs = std::filesystem;
  std::error_code error;
  bool allowed = fs::is_regular_file(fs::path(file), error);
  if (allowed && !includeRoot_.empty()) {
    const fs::path real = fs::canonical(fs::path(file), error);
    std::error_code rootError;
    const fs::path root = fs::canonical(fs::path(includeRoot_), rootError);
    const fs::path relative = real.lexically_relative(root);
    allowed = !error && !rootError && !relative.empty() && *relative.begin() != "..";
  }
  if (!allowed) throwErrorText(zuErrFileOpen, zuTextIncludeOpen, file);
  auto nested = std::make_unique<zuMasterFileParser>(file, origin);
  nested->originKnown_ = true;
  nested->includesNotAllowed_ = true;
  nested->keepComments_ = keepComments_;
  nested->parseDisabled_ = parseDisabled_;
  nested->keepDirectives_ = keepDirectives_;
  nested->ttlChanged_ = ttlChanged_;
  nested->soaMinimum_ = soaMinimum_;
  nested->zoneTTL_ = zoneTTL_;
  nested->currentTTL_ = currentTTL_;
  nested->ttlDirectiveSeen_ = ttlDirectiveSeen_;
  nested->lastStatedTTL_ = lastStatedTTL_;
  nested->previousOwner_ = previousOwner_;
  nested->haveOwner_ = haveOwner_;
  nested->lastOwner_ = lastOwner_;
  nested->haveLastOwner_ = haveLastOwner_;
  nested->ignoreSOA_ = true;
  nested->maxGenerated_ = maxGenerated_;
  nested->maxGeneratedTotal_ = maxGeneratedTotal_;
  nested->generatedTotal_ = generatedTotal_;
  nested->lexer_mf_.setMaxLineLength(lexer_mf_.maxLineLength());
  if (!nested->lexer_mf_.openFile(file)) throwErrorText(zuErrFileOpen, zuTextIncludeOpen, file);
  include_ = std::move(nested);
}

void zuMasterFileParser::generated(const Fields& out) {
  const i64 counter = genCounter_;
  genCounter_ += genStep_;
  if (genOwnerIsOrigin_) {
    *out.name = origin_;
  } else {
    *out.name = substitute(genOwner_, counter);
    qualifyName(*out.name);
    // As a line must write it ("$$" gave the dollar sign): not a directive.
    if (!out.name->empty() && out.name->front() == '$') out.name->insert(0, 1, '\\');
  }
  lastOwner_ = *out.name;
  haveLastOwner_ = true;
  *out.ttl = genTTL_;
  *out.type = genType_;
  const std::string rdata = substitute(genRdata_, counter);
  // Each name field is completed as a record line's would be.
  out.rdata->clear();
  u32 index = 0;
  for (std::size_t start = 0;; ++index) {
    const std::size_t end = rdata.find(separator_, start);
    std::string field = rdata.substr(start, end == std::string::npos ? end : end - start);
    // "@" is the origin in every field, as on a record line.
    if (field == "@")
      field = origin_;
    else if (zuRRTypeIsNameField(genType_, index))
      qualifyName(field);
    if (index > 0) out.rdata->push_back(separator_);
    *out.rdata += field;
    if (end == std::string::npos) break;
    start = end + 1;
  }
  out.comment->clear();
  out.aging->clear();
}

bool zuMasterFileParser::generate(const Fields& out) {
  // The directive: range, owner template, then a record line without owner.
  nextToken();
  expectWord();
  const std::string range = lexer_->tokenText();
  i64 start = 0;
  i64 stop = 0;
  i64 step = 1;
  {
    const std::string_view text(range);
    const std::size_t dash = text.find('-');
    const std::size_t slash = text.find('/');
    if (dash == std::string_view::npos || !parseCount(text.substr(0, dash), start) ||
        !parseCount(text.substr(dash + 1, slash == std::string_view::npos ? std::string_view::npos
                                                                          : slash - dash - 1),
                    stop) ||
        (slash != std::string_view::npos &&
         (slash < dash || !parseCount(text.substr(slash + 1), step) || step < 1)))
      throwErrorText(zuErrIncorrectFormat, zuTextIncorrectFormat, "");
  }
  if (stop < start || start < 0 || step < 1 ||
      static_cast<u64>((stop - start) / step) >= maxGenerated_)
    throwErrorText(zuErrInvalidRange, zuTextInvalidRange, "");
  nextToken();
  expectWord();
  std::string ownerTemplate = lexer_->tokenText();
  escapeQuotedName(ownerTemplate);
  escapeControls(ownerTemplate);
  const bool ownerIsOrigin = ownerTemplate == "@";
  std::string ttl;
  u32 type = 0;
  std::string rdata;
  std::string comment;
  std::string aging;
  std::string unusedName;
  const Fields line{&unusedName, &ttl, &type, &rdata, &comment, &aging};
  recordLine(line, true, true);
  if (!isGeneratedType(type)) throwErrorText(zuErrInvalidRange, zuTextInvalidRange, "");
  // Templates are checked once here, so that a bad one fails on its own line.
  if (!ownerIsOrigin) substitute(ownerTemplate, start);
  substitute(rdata, start);
  if (keepDirectives_) {
    const char sep = separator_;
    std::string text = "$GENERATE";
    text += sep;
    text += range;
    text += sep;
    text += ownerIsOrigin ? qualifiedTemplate("") : qualifiedTemplate(ownerTemplate);
    text += sep;
    if (!ttl.empty()) {
      text += ttl;
      text += sep;
    }
    text += zuRRTypeName(type);
    text += sep;
    text += zuRRTypeIsNameField(type, 0) ? qualifiedTemplate(rdata) : rdata;
    *out.type = zuRRType::kGenerate;
    *out.rdata = std::move(text);
    *out.comment = comment;
    return true;
  }
  // Counted whole when it starts, so that a directive past the total fails
  // on its own line before it makes anything.
  const u64 records = static_cast<u64>((stop - start) / step) + 1;
  if (records > maxGeneratedTotal_ || *generatedTotal_ > maxGeneratedTotal_ - records)
    throwErrorText(zuErrInvalidRange, zuTextInvalidRange, "");
  *generatedTotal_ += records;
  genCounter_ = start;
  genStop_ = stop;
  genStep_ = step;
  genType_ = type;
  genTTL_ = ttl;
  genOwner_ = ownerTemplate;
  genOwnerIsOrigin_ = ownerIsOrigin;
  genRdata_ = rdata;
  return false;
}

std::string zuMasterFileParser::qualifiedTemplate(const std::string& pattern) const {
  // "@" and relative templates get the origin, its '$' escaped so that
  // substitution never reaches into it.
  const bool isOrigin = pattern.empty() || pattern == "@";
  if (!originKnown_ || origin_.empty()) return isOrigin ? "@" : pattern;
  if (!isOrigin && pattern.back() == '.') return pattern;
  std::string origin;
  for (char c : origin_) {
    if (c == '$') origin.push_back('\\');
    origin.push_back(c);
  }
  if (isOrigin) return origin;
  return pattern + (origin_.front() == '.' ? "" : ".") + origin;
}

std::string zuMasterFileParser::substitute(const std::string& pattern, i64 counter) {
  std::string out;
  // The limit counts characters of the name, an escape such as "\\065" as one,
  // so that a template written back with escapes stays within it.
  std::size_t characters = 0;
  const std::size_t n = pattern.size();
  for (std::size_t i = 0; i < n; ++characters) {
    if (characters > kMaxGeneratedText)
      throwErrorText(zuErrIncorrectFormat, zuTextIncorrectFormat, "");
    const char c = pattern[i];
    if (c == '\\') {
      if (i + 1 >= n) throwErrorText(zuErrIncorrectFormat, zuTextIncorrectFormat, "");
      // "\$" is a dollar sign; any other escape stays as the name's own escape.
      std::size_t length = 2;
      if (i + 3 < n && zuIsDigit(static_cast<u8>(pattern[i + 1])) &&
          zuIsDigit(static_cast<u8>(pattern[i + 2])) && zuIsDigit(static_cast<u8>(pattern[i + 3])))
        length = 4;
      // A digit escape short of three digits, with its digits just before the
      // counter, would take the counter's digits into another escape ("\30$"
      // gives "\302"): the generated text would not mean what the template says.
      if (length == 2 && zuIsDigit(static_cast<u8>(pattern[i + 1]))) {
        std::size_t end = i + 1;
        while (end < n && zuIsDigit(static_cast<u8>(pattern[end]))) ++end;
        if (end < n && pattern[end] == '$')
          throwErrorText(zuErrIncorrectFormat, zuTextIncorrectFormat, "");
      }
      if (pattern[i + 1] == '$')
        out.push_back('$');
      else
        out.append(pattern, i, length);
      i += length;
      continue;
    }
    if (c != '$') {
      out.push_back(c);
      ++i;
      continue;
    }
    if (i + 1 < n && pattern[i + 1] == '$') {
      out.push_back('$');
      i += 2;
      continue;
    }
    i64 offset = 0;
    u32 width = 0;
    char base = 'd';
    if (i + 1 < n && pattern[i + 1] == '{') {
      const std::size_t close = pattern.find('}', i + 2);
      if (close == std::string::npos)
        throwErrorText(zuErrIncorrectFormat, zuTextIncorrectFormat, "");
      const std::string_view inside(pattern.data() + i + 2, close - i - 2);
      std::string_view parts[3];
      std::size_t count = 0;
      std::size_t from = 0;
      for (;;) {
        const std::size_t comma = inside.find(',', from);
        if (count == 3) throwErrorText(zuErrIncorrectFormat, zuTextIncorrectFormat, "");
        parts[count++] =
            inside.substr(from, comma == std::string_view::npos ? inside.npos : comma - from);
        if (comma == std::string_view::npos) break;
        from = comma + 1;
      }
      std::string_view off = parts[0];
      const bool negative = !off.empty() && off.front() == '-';
      if (!off.empty() && (off.front() == '-' || off.front() == '+')) off.remove_prefix(1);
      i64 magnitude = 0;
      if (!parseCount(off, magnitude))
        throwErrorText(zuErrIncorrectFormat, zuTextIncorrectFormat, "");
      offset = negative ? -magnitude : magnitude;
      if (count >= 2) {
        i64 w = 0;
        if (!parseCount(parts[1], w) || w > 255)
          throwErrorText(zuErrIncorrectFormat, zuTextIncorrectFormat, "");
        width = static_cast<u32>(w);
      }
      if (count == 3) {
        if (parts[2].size() != 1 || std::strchr("doxX", parts[2].front()) == nullptr)
          throwErrorText(zuErrIncorrectFormat, zuTextIncorrectFormat, "");
        base = parts[2].front();
      }
      i = close + 1;
    } else {
      ++i;
    }
    const i64 value = counter + offset;
    const u64 magnitude = value < 0 ? static_cast<u64>(-value) : static_cast<u64>(value);
    char digits[32];
    const int radix = base == 'o' ? 8 : (base == 'd' ? 10 : 16);
    const auto result = std::to_chars(digits, digits + sizeof digits, magnitude, radix);
    std::size_t length = static_cast<std::size_t>(result.ptr - digits);
    if (base == 'X')
      for (std::size_t k = 0; k < length; ++k) digits[k] = static_cast<char>(zuToUpper(digits[k]));
    // As "%0<width>" would: the sign counts towards the width.
    const std::size_t used = length + (value < 0 ? 1 : 0);
    if (value < 0) out.push_back('-');
    if (width > used) out.append(width - used, '0');
    out.append(digits, length);
    characters += std::max<std::size_t>(used, width) - 1;
  }
  if (characters > kMaxGeneratedText)
    throwErrorText(zuErrIncorrectFormat, zuTextIncorrectFormat, "");
  return out;
}

bool zuMasterFileParser::recordLine(const Fields& out, bool ownerless, bool rawRdata) {
  // The caller's strings are the buffers: their room is reused line after line.
  std::string& owner = *out.name;
  owner.clear();
  bool ownerGiven = false;
  if (ownerless) {
    nextToken();
  } else {
    const u32 column = lexer_->tokenColumn();
    if (column == 0 || (inDisabled_ && column == disabledColumn_)) {
      owner = tokenText();
      escapeQuotedName(owner);
      qualifyName(owner);
      escapeControls(owner);
      ownerGiven = true;
      nextToken();
    }
  }
  bool haveTTL = false;
  bool haveClass = false;
  std::string& ttl = *out.ttl;
  std::string& aging = *out.aging;
  ttl.clear();
  aging.clear();
  for (;;) {
    expectWord();
    const char* word = lexer_->tokenText();
    const std::size_t length = std::strlen(word);
    if (word[0] == '[' && length >= 2 && word[length - 1] == ']') {
      std::size_t prefix = 0;
      if (zuStartsWithNoCase(word, "[AGE:"))
        prefix = 5;
      else if (zuStartsWithNoCase(word, "[Aging:"))
        prefix = 7;
      if (prefix == 0 || prefix > length - 1)
        throwErrorText(zuErrIncorrectRecord, zuTextIncorrectRecord, "");
      aging.assign(word + prefix, length - 1 - prefix);
      escapeControls(aging);
      nextToken();
      continue;
    }
    if (zuIsDigit(static_cast<u8>(word[0]))) {
      if (haveTTL) throwErrorText(zuErrIncorrectRecord, zuTextIncorrectRecord, "");
      if (!isTTL(word)) throwErrorText(zuErrIncorrectTTL, zuTextIncorrectTTL, "");
      ttl = word;
      haveTTL = true;
      nextToken();
      continue;
    }
    const u32 recordClass = lookupClass(word);
    if (recordClass != 0) {
      if (haveClass) throwErrorText(zuErrIncorrectRecord, zuTextIncorrectRecord, "");
      if (recordClass != kClassIN)
        throwErrorText(zuErrUnsupportedClass, zuTextUnsupportedClass, "");
      haveClass = true;
      nextToken();
      continue;
    }
    break;
  }
  const char* mnemonic = lexer_->tokenText();
  const u32 type = zuRRTypeFromName(mnemonic);
  if (type == zuRRType::kNone && zuStrCompare(mnemonic, "N/A", false) != 0)
    throwErrorText(zuErrUnknownRRType, zuTextUnknownRRType, "");
  if (type != zuRRType::kNone && !ownerless) {
    if (ownerGiven) {
      // A disabled record reads the previous owner but never sets it.
      if (!inDisabled_) {
        previousOwner_ = lastOwner_ = owner;
        haveOwner_ = haveLastOwner_ = true;
      }
    } else if (inDisabled_) {
      // A disabled line takes the owner of the record before it, as the
      // written zone, where every record names its owner, gives it; taken in,
      // the owner is as the disabled line writes it.
      if (!haveLastOwner_) throwErrorText(zuErrIncorrectRecord, zuTextIncorrectRecord, "");
      owner = lastOwner_;
      escapeGreater(owner);
    } else {
      // A line that starts with white space needs an owner to continue (as in
      // BIND, a generated record sets none).
      if (!haveOwner_) throwErrorText(zuErrIncorrectRecord, zuTextIncorrectRecord, "");
      owner = previousOwner_;
    }
  }
  if (type != zuRRType::kNone) {
    if (!haveTTL)
      ttl = inheritedTTL();
    else if (!ownerless && !inDisabled_)
      lastStatedTTL_ = ttl;
  }
  std::string& rdata = *out.rdata;
  rdata.clear();
  readRdata(type, rdata, rawRdata);
  std::string& comment = *out.comment;
  comment.clear();
  finishLine(comment);
  if (type == zuRRType::kSOA && !ownerless && !inDisabled_) {
    // Only the first live SOA counts; every later one is read and dropped.
    if (ignoreSOA_ || soaSeen_) {
      ignoreSOA_ = true;
      return false;
    }
    soaMinimum_ = zuGetField(rdata, 6, separator_);
    if (zoneTTL_.empty()) zoneTTL_ = currentTTL_ = soaMinimum_;
    soaSeen_ = true;
    lastWasSOA_ = true;
  }
  *out.type = type;
  return true;
}

void zuMasterFileParser::readText(std::string& field) {
  const char* word = lexer_->tokenText();
  std::size_t length = std::strlen(word);
  if (length >= 2 && word[0] == '"' && word[length - 1] == '"') {
    ++word;
    length -= 2;
  }
  if (decodedLength(std::string_view(word, length)) > kMaxStringBytes)
    throwErrorText(zuErrIncorrectFormat, zuTextIncorrectFormat, "");
  field.assign(word, length);
}

void zuMasterFileParser::readRdata(u32 type, std::string& rdata, bool raw) {
  nextToken();
  if (type == zuRRType::kSOA) {
    readSOA(rdata);
    return;
  }
  if (type == zuRRType::kLOC) {
    readLOC(rdata);
    return;
  }
  const u32 format = zuRRTypeFormat(type);
  std::string field;
  bool listStarted = false;
  for (u32 index = 0; kind_ == zuTokenKind::Word; ++index) {
    if (raw) {
      field = lexer_->tokenText();
      if (zuRRTypeIsNameField(type, index)) escapeQuotedName(field);
    } else if (zuRRTypeIsNameField(type, index)) {
      field = tokenText();
      escapeQuotedName(field);
      qualifyName(field);
    } else if (format == zuRRFormat::kText || format == zuRRFormat::kTwoStrings ||
               (type == zuRRType::kNAPTR && index >= 2 && index <= 4)) {
      readText(field);
    } else {
      field = tokenText();
    }
    // The pieces of a key or signature join into one word: a quoted piece
    // keeps its quotes as characters.
    if ((type == zuRRType::kDNSKEY && index >= 3) || (type == zuRRType::kRRSIG && index >= 8))
      escapeQuotedName(field);
    escapeControls(field);
    const bool listWord =
        (type == zuRRType::kWKS && index >= 2) || (type == zuRRType::kNSEC && index >= 1);
    // An empty word ("@" under an empty origin) in a list would leave blanks
    // that a second read folds away: it names nothing, so it goes.
    if (listWord && field.empty()) {
      nextToken();
      continue;
    }
    if (index > 0) {
      // The list's first word is a field of its own, the rest join it.
      if (listWord && listStarted)
        rdata.push_back(' ');
      else if (!((type == zuRRType::kDNSKEY && index >= 4) ||
                 (type == zuRRType::kRRSIG && index >= 9)))
        rdata.push_back(separator_);
      // Key and signature pieces join with nothing between them.
      else if (!field.empty() && zuIsDigit(static_cast<u8>(field[0])) &&
               endsInShortDigitEscape(rdata))
        throwErrorText(zuErrIncorrectFormat, zuTextIncorrectFormat, "");
    }
    rdata += field;
    listStarted = listStarted || listWord;
    nextToken();
  }
}

void zuMasterFileParser::readSOA(std::string& rdata) {
  for (int i = 0; i < 2; ++i) {
    expectWord();
    std::string name = tokenText();
    escapeQuotedName(name);
    qualifyName(name);
    escapeControls(name);
    rdata += name;
    rdata.push_back(separator_);
    nextToken();
  }
  {
    const char* serial = kind_ == zuTokenKind::Word ? lexer_->tokenText() : "";
    u64 value = 0;
    bool ok = *serial != 0;
    for (const char* p = serial; ok && *p != 0; ++p) {
      ok = zuIsDigit(static_cast<u8>(*p));
      value = value * 10 + static_cast<u64>(*p - '0');
      if (value > 0xFFFFFFFFull) ok = false;
    }
    if (!ok) throwErrorText(zuErrExpectedInteger, zuTextExpectedInteger, "");
    rdata += serial;
    nextToken();
  }
  for (int i = 0; i < 4; ++i) {
    if (kind_ != zuTokenKind::Word || !isTTL(lexer_->tokenText()))
      throwErrorText(zuErrExpectedValue, zuTextExpectedValue, "");
    rdata.push_back(separator_);
    rdata += lexer_->tokenText();
    nextToken();
  }
}

void zuMasterFileParser::readLOC(std::string& rdata) {
  std::string latitude;
  std::string longitude;
  std::string rest;
  int part = 0;
  while (kind_ == zuTokenKind::Word) {
    std::string word = tokenText();
    escapeControls(word);
    if (part < 2) {
      std::string& into = part == 0 ? latitude : longitude;
      // "@" under an empty origin adds nothing, not a second space.
      if (!into.empty() && !word.empty()) into.push_back(' ');
      into += word;
      const bool end = part == 0 ? zuStrCompare(word.c_str(), "N", false) == 0 ||
                                       zuStrCompare(word.c_str(), "S", false) == 0
                                 : zuStrCompare(word.c_str(), "E", false) == 0 ||
                                       zuStrCompare(word.c_str(), "W", false) == 0;
      if (end) ++part;
    } else {
      rest.push_back(separator_);
      rest += word;
    }
    nextToken();
  }
  rdata = latitude;
  // A latitude with nothing after it is one field, not one and an empty one.
  if (part >= 1 && !longitude.empty()) {
    rdata.push_back(separator_);
    rdata += longitude;
  }
  rdata += rest;
}

void zuMasterFileParser::parse(zuRecordCollection& collection, bool requireSOA) {
  ttlChanged_ = false;
  bool soaArrived = false;
  // One free record carries every line into the collection, which copies it.
  zuResourceRecord record;
  while (fillRecord(record)) {
    collection.add(record, 1);
    const std::string& name = record.name();
    if (!soaArrived && lastWasSOA_) {
      soaArrived = true;
      collection.setZoneTTL(zoneTTL_);
      if (!name.empty() && collection.origin().empty()) {
        std::string origin = name;
        if (origin.back() != '.') origin.push_back('.');
        collection.setOrigin(origin, true);
      }
    }
  }
  // A zone without SOA keeps its "$TTL".
  if (!soaArrived && !zoneTTL_.empty()) collection.setZoneTTL(zoneTTL_);
  if (requireSOA && !soaArrived) throwErrorText(zuErrMissingSOA, zuTextMissingSOA, "");
}
