// Feeds arbitrary text to the date, time-of-day and date-time parsers and
// checks what they accept.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "loam/base/zuDate.h"
#include "loam/base/zuDateTime.h"
#include "loam/base/zuTimeOfDay.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  zuDate date;
  if (date.parse(text)) {
    // Only real dates of the accepted years get through, and they survive a
    // round trip through every style.
    if (date.year() < 1970 || date.year() > 2050 || date.month() < 1 || date.month() > 12 ||
        date.day() < 1 || date.day() > zuDate::daysInMonth(date.month(), date.year())) {
      std::abort();
    }
    for (u32 style = 0; style <= 3; ++style) {
      std::string out;
      date.format(out, style, true, false);
      zuDate back;
      if (!back.parse(out) || !(back == date)) std::abort();
    }
  } else if (!(date == zuDate())) {
    std::abort();  // a refused text leaves the date alone
  }

  zuTimeOfDay time;
  if (!time.parse(text) && !(time == zuTimeOfDay())) std::abort();

  zuDateTime value(7u);
  if (value.parse(text)) {
    std::string out;
    value.format(out, zuDate::kStyleDashes, true, false, true);
    // A value before 2051 prints as a date and time that read back.
    if (value.seconds() < 2556144000u) {
      zuDateTime back;
      if (!back.parse(out) || back.seconds() != value.seconds()) std::abort();
    }
  } else if (value.seconds() != 7u) {
    std::abort();
  }
  return 0;
}
