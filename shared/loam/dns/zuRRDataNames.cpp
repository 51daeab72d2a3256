#include "loam/dns/zuRRDataNames.h"

#include <vector>

#include "loam/base/zuList.h"
#include "loam/base/zuString.h"
#include "loam/dns/zuRRType.h"
#include "loam/dns/zuResourceRecord.h"

namespace {

constexpr char kSep = zuResourceRecord::separator;

// The rdata's fields; an empty rdata is one empty field.
std::vector<std::string> fieldsOf(const std::string& rdata) {
  std::vector<std::string> fields;
  zuSplit(rdata, fields, kSep);
  if (fields.empty()) fields.emplace_back();
  return fields;
}

}  // namespace

bool zuStripOrigin(const std::string& origin, std::string& text) {
  if (origin.empty() || text.size() < origin.size()) return false;
  const auto end = static_cast<u32>(text.size());
  u32 cut = end;
  if (origin.front() == '.') {
    // The origin's own dot is the boundary.
    if (zuEndsWithNoCaseStr(text, origin)) cut = end - static_cast<u32>(origin.size());
  } else {
    cut = zuFindSuffixNoCase(text, end, origin);
  }
  // An empty label before the origin ("a.b..example.com.") would leave a
  // name that reads as absolute, and the next write would keep it so: such a
  // name stays whole.
  if (cut == end || (cut > 0 && text[cut - 1] == '.')) return false;
  text.resize(cut);
  return true;
}

bool zuNormalizeDataNames(const std::string& origin, u32 type, std::string& rdata) {
  if (origin.empty()) return false;
  switch (zuRRTypeFormat(type)) {
    case zuRRFormat::kName:
    case zuRRFormat::kNumberName:
    case zuRRFormat::kSRV:
    case zuRRFormat::kNAPTR:
      // The domain name is the last field here.
      return zuStripOrigin(origin, rdata);
    case zuRRFormat::kTwoNames:
    case zuRRFormat::kSOA:
    case zuRRFormat::kRRSIG:
    case zuRRFormat::kNSEC: {
      std::vector<std::string> fields = fieldsOf(rdata);
      bool changed = false;
      for (u32 i = 0; i < fields.size(); ++i) {
        if (zuRRTypeIsNameField(type, i)) changed = zuStripOrigin(origin, fields[i]) || changed;
      }
      if (changed) rdata = zuJoin(fields, kSep);
      return changed;
    }
    default:
      return false;
  }
}

bool zuQualifyDataNames(const std::string& origin, u32 type, std::string& rdata) {
  if (origin.empty()) return false;
  std::vector<std::string> fields = fieldsOf(rdata);
  bool changed = false;
  for (u32 i = 0; i < fields.size(); ++i) {
    std::string& f = fields[i];
    std::string before = f;
    if (zuRRTypeIsNameField(type, i)) {
      // Under "@" (no origin known) names stay relative, but an empty name
      // still needs a word: "@" itself.
      if (f.empty() || origin != "@") f = zuQualifyName(f, origin);
    } else if (type == zuRRType::kNAPTR && i >= 2 && i <= 4) {
      f = zuQuote(f);
    }
    changed = changed || f != before;
  }
  if (changed) rdata = zuJoin(fields, kSep);
  return changed;
}
