// A writer for the fault tests to kill at random points: it rewrites one
// store without end, each generation n whole in every value, so a reader can
// tell a whole store (one generation throughout) from a torn one.
//   tw_fault_writer preferences FILE   200 values "n:<padding>" in FILE
//   tw_fault_writer services           installs service "TwFaultWriter" with
//                                      display name and path of generation n,
//                                      removes it, and again
#include <list>
#include <string>

#include "loam/service/zuServiceManager.h"
#include "loam/threads/zuPreferences.h"

int main(int argc, char** argv) {
  const std::string what = argc > 1 ? argv[1] : "";
  if (what == "preferences" && argc == 3) {
    zuPreferences preferences;
    preferences.setFileName(argv[2]);
    const std::string padding(40, 'p');
    for (unsigned long n = 1;; ++n) {
      for (int k = 0; k < 200; ++k)
        preferences.values().set("key" + std::to_string(k), std::to_string(n) + ":" + padding);
      if (!preferences.save()) return 1;
    }
  }
  if (what == "services" && argc == 2) {
    zuServiceManager services;
    for (unsigned long n = 1;; ++n) {
      const std::string g = std::to_string(n);
      if (!services.create("TwFaultWriter", "Fault writer " + g, "/opt/writer/" + g, {}))
        return 1;
      if (!services.remove("TwFaultWriter")) return 1;
    }
  }
  return 2;
}
