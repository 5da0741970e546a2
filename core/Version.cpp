#include <cstdio>
#include <cstring>

#include "Version.h"
#include "opix.h"

// The version numbers are plain integer literals, so the text is made at
// compile time.
#define OPIX_TEXT(x) #x
#define OPIX_NUMBER_TEXT(x) OPIX_TEXT(x)

const char* opix::versionText() {
  return OPIX_NUMBER_TEXT(OPIX_VERSION_MAJOR) "." OPIX_NUMBER_TEXT(OPIX_VERSION_MINOR) "." OPIX_NUMBER_TEXT(
      OPIX_VERSION_PATCH) "." OPIX_NUMBER_TEXT(OPIX_VERSION_BUILD);
}

extern "C" const char* opixBuildDate(void) {
  // __DATE__ is "Mmm dd yyyy".
  static char text[40];
  static const bool done = [] {
    static const char* const months = "JanFebMarAprMayJunJulAugSepOctNovDec";
    const char* d = __DATE__;
    char mon[4] = {d[0], d[1], d[2], 0};
    const char* found = std::strstr(months, mon);
    const int month = found ? static_cast<int>(found - months) / 3 + 1 : 0;
    int day = 0, year = 0;
    std::sscanf(d + 4, "%d %d", &day, &year);
    std::snprintf(text, sizeof text, "%4d-%02d-%02d", year, month, day);
    return true;
  }();
  (void)done;
  return text;
}
