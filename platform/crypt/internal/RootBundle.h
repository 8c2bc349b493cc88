// Where the "ROOT" store looks for the system's bundle, for tests: the
// bundle paths of the distributions are looked up below a folder that stands
// for "/".  The setter is exported so that the test binaries can reach it,
// but it belongs to no public header and is not installed.
#pragma once

#include <string>

#include "platform/PlatformExport.h"

namespace vplatform::test {

// Looks up the system's bundle paths below `prefix` from the next opening
// on; the empty text returns to the real paths.  A file named with
// vplatformSetRootCertificateFile is not affected.
VPLATFORM_API void SetRootBundlePrefixForTesting(const std::string& prefix);

}  // namespace vplatform::test
