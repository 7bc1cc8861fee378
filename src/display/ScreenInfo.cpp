#include "display/ScreenInfo.h"

#include "display/NameText.h"

namespace velmora {

bool operator==(const ScreenInfo& a, const ScreenInfo& b) {
  if (a.displayID != b.displayID || !(a.frame == b.frame)) return false;
  if (a.localizedName == b.localizedName) return true;
  bool aWellFormed = true;
  bool bWellFormed = true;
  const icu::UnicodeString nameA = nametext::decode(a.localizedName, &aWellFormed);
  const icu::UnicodeString nameB = nametext::decode(b.localizedName, &bWellFormed);
  // Different bytes that are not both valid text would decode to the same
  // replacement characters; they are different names.
  if (!aWellFormed || !bWellFormed) return false;
  return nametext::canonicallyEqual(nameA, nameB);
}

}  // namespace velmora
