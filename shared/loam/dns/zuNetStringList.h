#pragma once
// A list of strings as a netobject value: a u32 count, then that many
// NUL-terminated strings.
#include <string>
#include <vector>

class zuNetReader;
class zuNetWriter;

void writeStringList(zuNetWriter& writer, const std::vector<std::string>& list);
// Appends the strings read; the list is not emptied first. An overrun throws
// the reader's std::out_of_range with the strings read so far appended.
void readStringList(zuNetReader& reader, std::vector<std::string>& list);
