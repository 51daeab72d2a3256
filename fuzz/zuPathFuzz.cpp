// Path strings from the network (file names of an Upgrade, remote paths):
// splitting, joining, rebasing and the plain-name check over arbitrary bytes.
// Byte 0 chooses where the text is cut into a folder and a name.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "loam/base/zuPath.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  const std::size_t cut = text.empty() ? 0 : data[0] % (text.size() + 1);
  const std::string first = text.substr(0, cut);
  const std::string second = text.substr(cut);

  std::string dir;
  std::string name;
  zuSplitPath(text, dir, name);
  if (dir + name != text) std::abort();          // splitting loses nothing
  for (std::size_t i = 1; i < name.size(); ++i)  // only the first byte is never a split point
    if (zuIsPathSeparator(name[i]) || name[i] == ':') std::abort();

  const std::string joined = zuAppendPath(first, second);
  if (joined.size() < first.size() + second.size() ||
      joined.size() > first.size() + second.size() + 1)
    std::abort();
  zuRebasePath(first, second);
  zuIsAbsolutePath(text);

  // A plain name joined to any folder is that folder's last entry, whole.
  if (zuIsPlainFileName(second)) {
    zuSplitPath(zuAppendPath("C:\\root", second), dir, name);
    if (name != second || dir != "C:\\root/") std::abort();
  }
  return 0;
}
