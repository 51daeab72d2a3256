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

// An rdata field: the number of a numeric field, or where a text field lies
// in the record's rdata (no pointer, to keep the array small).
struct FieldKey {
  u32 value = 0;  // the number of a numeric field, the offset of a text field
  u32 size = 0;   // of a text field
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

// The first bytes of a name, folded and mapped so that comparing them as
// unsigned numbers gives compareNoCase's order. A name stops at its first NUL,
// as compareNoCase reads it.
constexpr std::size_t kPrefixBytes = 16;

// The leading keys in one number: the tag, then SOA records before the rest
// and comment lines after them.
constexpr u64 kGroupSOA = 0;
constexpr u64 kGroupRecord = 2;
constexpr u64 kGroupCommentLine = 3;
u64 groupOf(u32 tag, u64 kind) { return (u64{tag} << 2) | kind; }

struct Key {
  u64 group = 0;
  u64 high = 0;    // name bytes 0-7
  u64 low = 0;     // name bytes 8-15
  u32 output = 0;  // index into the old output order; the last tie-break
  u16 rank = 0;
  // The format when it has numeric fields, else 0: records of one rank but
  // different layouts (AFSDB and NAPTR) cannot share one field comparison.
  u8 layout = 0;
  bool wholeName = false;  // the prefix holds all of the name
};

void setPrefix(Key& k, std::string_view name) {
  const std::size_t nul = name.find('\0');
  const std::size_t used = nul == std::string_view::npos ? name.size() : nul;
  for (std::size_t i = 0; i < kPrefixBytes; ++i) {
    const int c = i < used ? zuToUpper(static_cast<signed char>(name[i])) : 0;
    const u64 byte = static_cast<u8>(static_cast<unsigned>(c) ^ 0x80u);
    u64& half = i < 8 ? k.high : k.low;
    half = (half << 8) | byte;
  }
  k.wholeName = used <= kPrefixBytes;
}

// RecordOf gives the record of an old output position.
template <class RecordOf>
class KeyCompare {
 public:
  // The fields of old output position i are fields[firsts[i]] up to
  // fields[firsts[i + 1]].
  KeyCompare(const std::vector<FieldKey>& fields, const std::vector<u32>& firsts, RecordOf recordOf,
             bool byType, bool descending)
      : fields_(fields), firsts_(firsts), recordOf_(recordOf), byType_(byType),
        descending_(descending) {}

  // A total order: ties fall back to the old output position, which makes
  // an unstable sort give a stable sort's result.
  bool operator()(const Key& a, const Key& b) const {
    if (a.group != b.group) return a.group < b.group;
    if ((a.group & 3) != kGroupCommentLine) {
      const int c = descending_ ? compareLast(b, a) : compareLast(a, b);
      if (c != 0) return c < 0;
    }
    return a.output < b.output;
  }

 private:
  int compareNames(const Key& a, const Key& b) const {
    if (a.high != b.high) return a.high < b.high ? -1 : 1;
    if (a.low != b.low) return a.low < b.low ? -1 : 1;
    if (a.wholeName && b.wholeName) return 0;
    return compareNoCase(recordOf_(a.output).name(), recordOf_(b.output).name());
  }

  int compareLast(const Key& a, const Key& b) const {
    int c = 0;
    if (!byType_) {
      if ((c = compareNames(a, b)) != 0) return c;
      if ((c = compareNumbers(a.rank, b.rank)) != 0) return c;
      return compareData(a, b);
    }
    if ((c = compareNumbers(a.rank, b.rank)) != 0) return c;
    // Descending by type compares the owner before the rdata.
    if (descending_) {
      if ((c = compareNames(a, b)) != 0) return c;
      return compareData(a, b);
    }
    if ((c = compareData(a, b)) != 0) return c;
    return compareNames(a, b);
  }

  int compareData(const Key& a, const Key& b) const {
    if (a.layout != b.layout) return compareNumbers(a.layout, b.layout);
    static const FieldKey kEmpty{};
    const u32 firstA = firsts_[a.output];
    const u32 firstB = firsts_[b.output];
    const u32 countA = firsts_[a.output + 1] - firstA;
    const u32 countB = firsts_[b.output + 1] - firstB;
    const u32 n = std::max(countA, countB);
    std::string_view dataA;
    std::string_view dataB;
    for (u32 i = 0; i < n; ++i) {
      const FieldKey& fa = i < countA ? fields_[firstA + i] : kEmpty;
      const FieldKey& fb = i < countB ? fields_[firstB + i] : kEmpty;
      if (isNumericField(a.layout, i)) {
        if (fa.value != fb.value) return compareNumbers(fa.value, fb.value);
        continue;
      }
      if (dataA.data() == nullptr) {
        dataA = recordOf_(a.output).data();
        dataB = recordOf_(b.output).data();
      }
      const int c =
          compareNoCase(dataA.substr(fa.value, fa.size), dataB.substr(fb.value, fb.size));
      if (c != 0) return c;
    }
    return 0;
  }

  const std::vector<FieldKey>& fields_;
  const std::vector<u32>& firsts_;
  RecordOf recordOf_;
  bool byType_;
  bool descending_;
};

}  // namespace

void zuRecordCollection::sort(u32 key, bool descending) {
  cursor_.valid = false;
  if (key != kSortByName && key != kSortByType) return;

  std::vector<Key> keys;
  std::vector<FieldKey> fields;
  std::vector<u32> firsts;
  keys.reserve(output_.size());
  firsts.reserve(output_.size() + 1);
  // Most records have one or two rdata fields.
  fields.reserve(output_.size() + output_.size() / 2);
  for (std::size_t i = 0; i < output_.size(); ++i) {
    const Entry& e = output_[i]->second;
    const zuResourceRecord& r = e.record();
    Key k;
    k.group = groupOf(e.tag, r.type() == zuRRType::kSOA                 ? kGroupSOA
                             : r.name().empty() && r.type() == 0 ? kGroupCommentLine
                                                                 : kGroupRecord);
    setPrefix(k, r.name());
    k.rank = static_cast<u16>(zuRRTypeRank(r.type()));
    const u32 format = zuRRTypeFormat(r.type());
    k.layout = hasNumericFields(format) ? static_cast<u8>(format) : 0;
    const u32 first = static_cast<u32>(fields.size());
    firsts.push_back(first);
    const std::string_view data = r.data();
    for (std::size_t start = 0;;) {
      const std::size_t tab = data.find(zuResourceRecord::separator, start);
      const std::string_view text =
          data.substr(start, tab == std::string_view::npos ? std::string_view::npos : tab - start);
      const u32 index = static_cast<u32>(fields.size()) - first;
      if (isNumericField(k.layout, index))
        fields.push_back(FieldKey{numberOf(format, text), 0});
      else
        fields.push_back(FieldKey{static_cast<u32>(start), static_cast<u32>(text.size())});
      if (tab == std::string_view::npos) break;
      start = tab + 1;
    }
    k.output = static_cast<u32>(i);
    keys.push_back(k);
  }
  firsts.push_back(static_cast<u32>(fields.size()));

  // No two keys are equal (the old position decides last), so the result
  // is the stable order without a stable sort's buffer: a second sort
  // changes nothing and ties keep their order.
  const auto recordOf = [this](u32 output) -> const zuResourceRecord& {
    return output_[output]->second.record();
  };
  std::sort(keys.begin(), keys.end(),
            KeyCompare<decltype(recordOf)>(fields, firsts, recordOf, key == kSortByType, descending));
  std::vector<FieldKey>().swap(fields);
  std::vector<u32>().swap(firsts);
  std::vector<Position> sorted;
  sorted.reserve(output_.size());
  for (const Key& k : keys) sorted.push_back(output_[k.output]);
  output_.swap(sorted);
}
