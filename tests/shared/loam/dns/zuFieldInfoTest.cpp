#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "loam/base/zuException.h"
#include "loam/dns/zuDNSErrors.h"
#include "loam/dns/zuFieldInfo.h"

namespace {

const std::vector<std::string> kAB = {"a", "b"};

zuFieldInfo textField(bool fqdn, const std::vector<std::string>* allowed) {
  return zuFieldInfo("t", "Text", "", "", false, true, false, fqdn, allowed);
}
zuFieldInfo simpleField(zuFieldType type) {
  return zuFieldInfo(type, "s", "Simple", "", "", false, true);
}
zuFieldInfo numberField(i32 min, i32 max) {
  return zuFieldInfo("n", "Count", "", "", false, true, min, max);
}

struct ValidateCase {
  const char* what;
  zuFieldInfo field;
  std::string value;
  bool checkMandatory;
  u16 code;  // 0: accepted
  std::string text;
  std::string paramN = {};
  std::string paramV = {};
  std::string paramA = {};
  std::string paramB = {};
};

TEST(zuFieldInfoTest, ValidateAcceptsAndRefusesWithExactMessages) {
  const zuFieldInfo choice("c", "Mode", kAB, "", "a", false);
  zuFieldInfo mandatoryChoice = choice;
  mandatoryChoice.setMandatory(true);
  zuFieldInfo list = simpleField(zuFieldFreeText);
  list.setType(zuFieldList);
  zuFieldInfo group = simpleField(zuFieldFreeText);
  group.setType(zuFieldStruct);
  zuFieldInfo unknown = simpleField(zuFieldFreeText);
  unknown.setType(512);
  const zuFieldInfo quotedLabel("q", "\"Port\"", "", "", false, false, 0, 10);

  const std::string kFqdn = "Value for $n is not a valid fully qualified domain name.";
  const std::string kRange = "Value for $n should be between $a and $b";
  const std::string kNumber = "Value for $n is not a valid number.";
  const std::vector<ValidateCase> cases = {
      {"mandatory empty", mandatoryChoice, "", true, 2049, "$n is mandatory.", "\"Mode\""},
      {"mandatory empty unchecked", mandatoryChoice, "", false, 0, ""},
      {"mandatory number unchecked", numberField(1, 2), "", false, 0, ""},
      {"choice in list", choice, "a", true, 0, ""},
      {"choice is case-sensitive", choice, "A", true, 2049, "Value $v is not valid for $n.",
       "\"Mode\"", "\"A\""},
      {"text list decides over fqdn", textField(true, &kAB), "b", true, 0, ""},
      {"text not in list", textField(true, &kAB), "x y", true, 2049,
       "Value $v is not valid for $n.", "\"Text\"", "\"x y\""},
      {"fqdn with space", textField(true, nullptr), "a b.example.", true, 2049, kFqdn, "\"Text\""},
      {"fqdn relaxed", textField(true, nullptr), "_srv-.example.", true, 0, ""},
      {"text without fqdn", textField(false, nullptr), "a b", true, 0, ""},
      {"free text", simpleField(zuFieldFreeText), "anything at all", true, 0, ""},
      {"address or name: v4", simpleField(zuFieldAddressOrName), "10.0.0.1", true, 0, ""},
      {"address or name: v6", simpleField(zuFieldAddressOrName), "fe80::1", true, 0, ""},
      {"address or name: name", simpleField(zuFieldAddressOrName), "host.example.", true, 0, ""},
      {"address or name: neither", simpleField(zuFieldAddressOrName), "a b", true, 2049,
       "Value for $n is neither a valid IP address nor a legal domain name.", "\"Simple\""},
      {"address: v4", simpleField(zuFieldAddress), "192.168.1.1", true, 0, ""},
      {"address: v6", simpleField(zuFieldAddress), "::1", true, 0, ""},
      {"address: name refused", simpleField(zuFieldAddress), "host.example.", true, 2049,
       "Value for $n is not a valid IP address.", "\"Simple\""},
      {"address: bad octet", simpleField(zuFieldAddress), "10.0.0.256", true, 2049,
       "Value for $n is not a valid IP address.", "\"Simple\""},
      {"signed low bound", numberField(-5, 5), "-5", true, 0, ""},
      {"signed high bound", numberField(-5, 5), "5", true, 0, ""},
      {"signed above", numberField(-5, 5), "6", true, 2049, kRange, "\"Count\"", "", "-5", "5"},
      {"signed below", numberField(-5, 5), "-6", true, 2049, kRange, "\"Count\"", "", "-5", "5"},
      {"unsigned full range top", numberField(0, static_cast<i32>(0xFFFFFFFFu)), "4294967295", true,
       0, ""},
      {"unsigned bounds print unsigned", numberField(10, static_cast<i32>(0xFFFFFFF0u)),
       "4294967295", true, 2049, kRange, "\"Count\"", "", "10", "4294967280"},
      {"unsigned refuses sign", numberField(0, 10), "-1", true, 2049, kNumber, "\"Count\""},
      {"not a number", numberField(-5, 5), "5x", true, 2049, kNumber, "\"Count\""},
      {"label already quoted", quotedLabel, "11", true, 2049, kRange, "\"Port\"", "", "0", "10"},
      {"boolean TRUE", simpleField(zuFieldBoolean), "TRUE", true, 0, ""},
      {"boolean Off", simpleField(zuFieldBoolean), "Off", true, 0, ""},
      {"boolean 1", simpleField(zuFieldBoolean), "1", true, 0, ""},
      {"boolean Inherited", simpleField(zuFieldBoolean), "Inherited", true, 0, ""},
      {"boolean yes refused", simpleField(zuFieldBoolean), "yes", true, 2049,
       "Value for $n is not a valid boolean flag.", "\"Simple\""},
      {"list unchecked", list, "", true, 0, ""},
      {"group unchecked", group, "x y z", true, 0, ""},
      {"unknown type", unknown, "x", true, 261,
       "An internal error \"$e\" occurred.  Please notify Tarnwell Tech Support."},
  };
  for (const ValidateCase& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.code == 0) {
      EXPECT_NO_THROW(c.field.validate(c.value, c.checkMandatory));
      continue;
    }
    try {
      c.field.validate(c.value, c.checkMandatory);
      ADD_FAILURE() << "accepted";
    } catch (const zuException& e) {
      EXPECT_EQ(e.code(), c.code);
      EXPECT_EQ(e.message().text(), c.text);
      EXPECT_EQ(e.message().paramRef('n'), c.paramN);
      EXPECT_EQ(e.message().paramRef('v'), c.paramV);
      EXPECT_EQ(e.message().paramRef('a'), c.paramA);
      EXPECT_EQ(e.message().paramRef('b'), c.paramB);
    }
  }
}

TEST(zuFieldInfoTest, UnknownTypeNamesTheNumber) {
  zuFieldInfo field = simpleField(zuFieldFreeText);
  field.setType(zuFieldText | zuFieldNumber);
  try {
    field.validate("1", true);
    FAIL() << "accepted";
  } catch (const zuException& e) {
    EXPECT_EQ(e.code(), zuErrInternal);
    EXPECT_EQ(e.message().paramRef('e'), "Unknown field type: \"17\".");
  }
}

TEST(zuFieldInfoTest, TypedAccessorsRefuseOtherTypes) {
  const auto expectMismatch = [](auto&& call) {
    try {
      call();
      ADD_FAILURE() << "no mismatch";
    } catch (const zuException& e) {
      EXPECT_EQ(e.code(), zuErrInternal);
      EXPECT_EQ(e.message().paramRef('e'), "Field type mismatch");
    }
  };
  zuFieldInfo text = textField(false, nullptr);
  expectMismatch([&] { text.setMin(1); });
  expectMismatch([&] { text.setMax(1); });
  zuFieldInfo number = numberField(0, 1);
  expectMismatch([&] { number.setTextFlag(true); });
  expectMismatch([&] { number.setRequireFQDN(true); });
  expectMismatch([&] { number.setAllowedValues(kAB); });
  zuFieldInfo list = simpleField(zuFieldFreeText);
  list.setType(zuFieldList);
  expectMismatch([&] { list.setDefaultValue("x"); });
  expectMismatch([&] { list.setFlag(true); });
  expectMismatch([&] { (void)list.defaultValue(); });
  list.setMandatory(true);  // any type
  expectMismatch([] { zuFieldInfo(zuFieldNumber, "n", "N", "", "", false, false); });
  expectMismatch([] {
    zuFieldInfo(static_cast<zuFieldType>(zuFieldFreeText | zuFieldBoolean), "n", "N", "", "", false,
                false);
  });

  // What fits is stored.
  zuFieldInfo choice("c", "C", kAB, "", "a", true);
  choice.setAllowedValues({"x"});
  EXPECT_EQ(choice.allowedValues(), std::vector<std::string>{"x"});
  number.setMin(-3);
  EXPECT_EQ(number.minimum(), -3);
}

TEST(zuFieldInfoTest, StripIndexSuffix) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"servers.3", "servers"}, {"a.b.12", "a.b"}, {"servers", "servers"}, {"servers.", "servers."},
      {"servers3", "servers3"}, {"123", "123"},    {"a.3b", "a.3b"},       {"", ""},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(zuFieldInfo::stripIndexSuffix(in), out) << in;
}

TEST(zuFieldInfoTest, ParseBoolean) {
  struct Case {
    const char* text;
    bool parses;
    bool value;
  };
  for (const Case& c :
       {Case{"true", true, true}, Case{"ON", true, true}, Case{"1", true, true},
        Case{"False", true, false}, Case{"oFF", true, false}, Case{"0", true, false},
        Case{"yes", false, false}, Case{"", false, false}, Case{"01", false, false}}) {
    bool out = !c.value;
    EXPECT_EQ(zuFieldInfo::parseBoolean(c.text, out), c.parses) << c.text;
    if (c.parses) {
      EXPECT_EQ(out, c.value) << c.text;
    }
    EXPECT_EQ(zuFieldInfo::isBoolean(c.text), c.parses) << c.text;
  }
}

// ---- composeValue ----------------------------------------------------------

zuFieldInfo group(const std::string& name) {
  zuFieldInfo g(zuFieldFreeText, name, name, "", "", false, false);
  g.setType(zuFieldStruct);
  return g;
}

TEST(zuFieldInfoTest, ComposeGroupJoinsMembersWithOneSpace) {
  const std::vector<zuFieldInfo> fields = {
      group("net"),
      zuFieldInfo(zuFieldFreeText, "net.host", "Host", "", "", false, false),
      zuFieldInfo("net.port", "Port", "", "53", false, false, 0, 65535),
      zuFieldInfo(zuFieldFreeText, "other", "Other", "", "", false, false),
  };
  const std::vector<zuFieldValue> values = {
      {"NET.PORT", "53", false}, {"net.host", "h", false}, {"other", "x", false}};
  u32 pos = 0;
  std::string out = "stale";
  EXPECT_TRUE(fields[0].composeValue(pos, fields, 0, values, false, out, ','));
  EXPECT_EQ(out, "h 53");
  EXPECT_EQ(pos, 2u);  // at the last member

  // Equal to the members' defaults: no difference.
  const std::vector<zuFieldValue> defaults = {{"net.port", "53", false}};
  pos = 0;
  EXPECT_FALSE(fields[0].composeValue(pos, fields, 0, defaults, false, out, ','));
  EXPECT_EQ(out, "53");
}

TEST(zuFieldInfoTest, ComposeGroupInheritedOnlyWithDefaults) {
  const std::vector<zuFieldInfo> fields = {
      group("g"),
      zuFieldInfo(zuFieldBoolean, "g.on", "On", "", "true", false, false),
      zuFieldInfo(zuFieldFreeText, "g.name", "Name", "", "x", false, false),
  };
  u32 pos = 0;
  std::string out;
  const std::vector<zuFieldValue> inheritedDefaults = {{"g.on", "inherited", false},
                                                       {"g.name", "X", false}};
  EXPECT_FALSE(fields[0].composeValue(pos, fields, 0, inheritedDefaults, true, out, ','));
  EXPECT_EQ(out, "true X");

  const std::vector<zuFieldValue> mixed = {{"g.on", "Inherited", false}, {"g.name", "y", false}};
  pos = 0;
  try {
    fields[0].composeValue(pos, fields, 0, mixed, true, out, ',');
    FAIL() << "accepted";
  } catch (const zuException& e) {
    EXPECT_EQ(e.code(), zuErrValueOutOfRange);
    EXPECT_STREQ(e.what(), "Cannot set value as inherited in struct with non-default values.");
  }
  // Without resolving, "inherited" is an ordinary value.
  pos = 0;
  EXPECT_TRUE(fields[0].composeValue(pos, fields, 0, mixed, false, out, ','));
  EXPECT_EQ(out, "Inherited y");
}

TEST(zuFieldInfoTest, ComposeListMemberAndListField) {
  zuFieldInfo servers(zuFieldFreeText, "g.servers", "Servers", "", "", false, false);
  servers.setType(zuFieldList);
  const std::vector<zuFieldInfo> fields = {group("g"), servers};
  const std::vector<zuFieldValue> values = {{"g.servers", "", false},
                                            {"g.servers.0", "a", false},
                                            {"g.serversX", "no", false},
                                            {"g.servers.1", "b", false}};
  u32 pos = 0;
  std::string out;
  EXPECT_TRUE(fields[0].composeValue(pos, fields, 0, values, false, out, ','));
  EXPECT_EQ(out, "a,b");

  // The list field on its own gathers its indexed entries from valuePos on.
  pos = 1;
  EXPECT_TRUE(servers.composeValue(pos, fields, 2, values, false, out, ';'));
  EXPECT_EQ(out, "b");
  EXPECT_FALSE(servers.composeValue(pos, fields, 4, values, false, out, ';'));
  EXPECT_EQ(out, "");
}

TEST(zuFieldInfoTest, ComposePlainFields) {
  const zuFieldInfo flag(zuFieldBoolean, "f", "F", "", "false", false, false);
  const zuFieldInfo text(zuFieldFreeText, "t", "T", "", "d", false, false);
  const std::vector<zuFieldInfo> fields = {flag, text};
  u32 pos = 0;
  std::string out;
  const std::vector<zuFieldValue> values = {
      {"f", "FALSE", false}, {"f", "inherited", false}, {"t", "", false}};
  EXPECT_FALSE(flag.composeValue(pos, fields, 0, values, false, out, ','));  // = default
  EXPECT_TRUE(flag.composeValue(pos, fields, 0, values, true, out, ','));    // not inherited
  EXPECT_EQ(out, "FALSE");
  EXPECT_FALSE(flag.composeValue(pos, fields, 1, values, true, out, ','));
  EXPECT_FALSE(text.composeValue(pos, fields, 2, values, false, out, ','));
  EXPECT_FALSE(text.composeValue(pos, fields, 3, values, false, out, ','));  // at the end
}

}  // namespace
