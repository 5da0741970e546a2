// The SDK's version as text, for the places that print it as one word.
#pragma once

namespace opix {

// "major.minor.patch.build", from the OPIX_VERSION_* numbers of opix.h.
const char* versionText();

}  // namespace opix
