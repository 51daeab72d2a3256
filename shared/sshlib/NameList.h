#pragma once
// Name-lists (comma-separated names) and the negotiation rule of RFC 4253
// section 7.1. Names compare exactly, case-sensitive. The elements are the
// pieces between commas: ",," holds an empty element, a leading comma gives
// an empty first element, a trailing comma adds none, "" has none.
#include <string>
#include <string_view>

namespace SSH {

bool nameListContains(std::string_view list, std::string_view name);
// The first element of first that second contains; "" when there is none.
std::string firstCommonName(std::string_view first, std::string_view second);
// The text before the first comma (the whole list when there is none).
std::string firstName(std::string_view list);
// True when list is not empty, does not end with a comma and every element
// is in known.
bool nameListAllKnown(std::string_view list, std::string_view known);

}  // namespace SSH
