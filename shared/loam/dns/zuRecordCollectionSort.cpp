// Sorting a collection's output order by name or by type.
//
// Each record's sort key (tag, SOA, comment line, owner, type rank, rdata
// fields with their numbers) is worked out once before the sort, so a
// comparison builds no strings. The comparison is a strict weak ordering:
// two SOA records, or two comment lines, go on to the next key; rdata is
// compared over the larger field count, a missing field counting as empty;
// descending order compares the last keys with the arguments swapped.
#include <algorithm>
#include <string_view>

#include "loam/base/zuString.h"
#include "loam/dns/zuRRType.h"
#include "loam/dns/zuRRTypeRank.h"
#include "loam/dns/zuRecordCollection.h"
#include "loam/net/zuIPv4Address.h"

namespace {

struct FieldKey {
  std::string_view text;
  u32 number = 0;
};

// Whether field index of a format compares as a number: the MX and AFSDB
// preference, the SRV priority, weight and port, the A address.
bool isNumericField(u32 format, u32 index) {
  switch (format) {
    case zuRRFormat::kNumberName:
    case zuRRFormat::kIPv4:
      return index == 0;
    case zuRRFormat::kSRV:
      return index <= 2;
    default:
      return false;
  }
}

bool hasNumericFields(u32 format) {
  return format == zuRRFormat::kNumberName || format == zuRRFormat::kIPv4 ||
         format == zuRRFormat::kSRV;
}

u32 numberOf(u32 format, std::string_view text) {
  if (format == zuRRFormat::kIPv4) {
    zuIPv4Address address;
    address.parse(text.data(), static_cast<u32>(text.size()));  // zero when it does not parse
    return address.hostValue();
  }
  const std::string copy(text);
  return zuStrToUInt32Or(copy.c_str(), 0);
}

// zuStrCompare's order (signed bytes, ASCII letters folded, the end of a
// text as NUL) on views.
int compareNoCase(std::string_view a, std::string_view b) {
  for (std::size_t i = 0;; ++i) {
    const int ca = zuToUpper(i < a.size() ? static_cast<signed char>(a[i]) : 0);
    const int cb = zuToUpper(i < b.size() ? static_cast<signed char>(b[i]) : 0);
    if (ca != cb) return ca - cb;
    if (ca == 0) return 0;
  }
}

int compareNumbers(u32 a, u32 b) { return a < b ? -1 : (a > b ? 1 : 0); }

struct Key {
  u32 tag = 0;
  bool soa = false;
  bool commentLine = false;
  std::string_view name;
  u32 rank = 0;
  // The format when it has numeric fields, else 0: records of one rank but
  // different layouts (AFSDB and NAPTR) cannot share one field comparison.
  u32 layout = 0;
  u32 firstField = 0;
  u32 fieldCount = 0;
  u32 output = 0;  // index into the old output order
};

class KeyCompare {
 public:
  KeyCompare(const std::vector<FieldKey>& fields, bool byType, bool descending)
      : fields_(fields), byType_(byType), descending_(descending) {}

  bool operator()(const Key& a, const Key& b) const {
    if (a.tag != b.tag) return a.tag < b.tag;
    if (a.soa != b.soa) return a.soa;
    if (a.commentLine != b.commentLine) return b.commentLine;
    if (a.commentLine) return false;
    return (descending_ ? compareLast(b, a) : compareLast(a, b)) < 0;
  }

 private:
  int compareLast(const Key& a, const Key& b) const {
    int c = 0;
    if (!byType_) {
      if ((c = compareNoCase(a.name, b.name)) != 0) return c;
      if ((c = compareNumbers(a.rank, b.rank)) != 0) return c;
      return compareData(a, b);
    }
    if ((c = compareNumbers(a.rank, b.rank)) != 0) return c;
    // Descending by type compares the owner before the rdata.
    if (descending_) {
      if ((c = compareNoCase(a.name, b.name)) != 0) return c;
      return compareData(a, b);
    }
    if ((c = compareData(a, b)) != 0) return c;
    return compareNoCase(a.name, b.name);
  }

  int compareData(const Key& a, const Key& b) const {
    if (a.layout != b.layout) return compareNumbers(a.layout, b.layout);
    static const FieldKey kEmpty{};
    const u32 n = std::max(a.fieldCount, b.fieldCount);
    for (u32 i = 0; i < n; ++i) {
      const FieldKey& fa = i < a.fieldCount ? fields_[a.firstField + i] : kEmpty;
      const FieldKey& fb = i < b.fieldCount ? fields_[b.firstField + i] : kEmpty;
      const int c = isNumericField(a.layout, i) ? compareNumbers(fa.number, fb.number)
                                                : compareNoCase(fa.text, fb.text);
      if (c != 0) return c;
    }
    return 0;
  }

  const std::vector<FieldKey>& fields_;
  bool byType_;
  bool descending_;
};

}  // namespace

void zuRecordCollection::sort(u32 key, bool descending) {
  cursor_.valid = false;
  if (key != kSortByName && key != kSortByType) return;

  std::vector<Key> keys;
  std::vector<FieldKey> fields;
  keys.reserve(output_.size());
  for (std::size_t i = 0; i < output_.size(); ++i) {
    const Entry& e = output_[i]->second;
    const zuResourceRecord& r = e.record;
    Key k;
    k.tag = e.tag;
    k.soa = r.type() == zuRRType::kSOA;
    k.commentLine = r.name().empty() && r.type() == 0;
    k.name = r.name();
    k.rank = zuRRTypeRank(r.type());
    const u32 format = zuRRTypeFormat(r.type());
    k.layout = hasNumericFields(format) ? format : 0;
    k.firstField = static_cast<u32>(fields.size());
    const std::string_view data = r.data();
    for (std::size_t start = 0;;) {
      const std::size_t tab = data.find(zuResourceRecord::separator, start);
      const std::string_view text =
          data.substr(start, tab == std::string_view::npos ? std::string_view::npos : tab - start);
      const u32 index = static_cast<u32>(fields.size()) - k.firstField;
      fields.push_back(
          FieldKey{text, isNumericField(k.layout, index) ? numberOf(format, text) : 0});
      if (tab == std::string_view::npos) break;
      start = tab + 1;
    }
    k.fieldCount = static_cast<u32>(fields.size()) - k.firstField;
    k.output = static_cast<u32>(i);
    keys.push_back(k);
  }

  // Stable, so that a second sort changes nothing and ties keep their order.
  std::stable_sort(keys.begin(), keys.end(), KeyCompare(fields, key == kSortByType, descending));
  std::vector<Position> sorted;
  sorted.reserve(output_.size());
  for (const Key& k : keys) sorted.push_back(output_[k.output]);
  output_.swap(sorted);
}
