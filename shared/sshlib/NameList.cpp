#include "sshlib/NameList.h"

namespace SSH {

namespace {

// Calls visit(element) for each element in order until it returns true;
// returns whether one did.
template <typename Visit>
bool anyElement(std::string_view list, Visit visit) {
  size_t start = 0;
  while (start < list.size()) {
    const size_t comma = list.find(',', start);
    const size_t end = comma == std::string_view::npos ? list.size() : comma;
    if (visit(list.substr(start, end - start))) return true;
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  return false;
}

}  // namespace

bool nameListContains(std::string_view list, std::string_view name) {
  return anyElement(list, [&](std::string_view element) { return element == name; });
}

std::string firstCommonName(std::string_view first, std::string_view second) {
  std::string found;
  anyElement(first, [&](std::string_view element) {
    if (!nameListContains(second, element)) return false;
    found.assign(element);
    return true;
  });
  return found;
}

std::string firstName(std::string_view list) {
  return std::string(list.substr(0, list.find(',')));
}

bool nameListAllKnown(std::string_view list, std::string_view known) {
  if (list.empty() || list.back() == ',') return false;
  return !anyElement(list, [&](std::string_view element) {
    return !nameListContains(known, element);
  });
}

}  // namespace SSH
