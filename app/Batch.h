// Batch input: the files a wildcard mask names, in a stable order, and the
// numbered output names that go with them.
#pragma once

#include <string>
#include <vector>

namespace opix::app {

// Files matching `mask` (wildcards in its last component); names beginning
// with '.' and directories are skipped; sorted bytewise.
std::vector<std::string> findFiles(const std::string& mask);

// The output mask with its first '*' replaced by `index`.
std::string outputName(const std::string& mask, size_t index);

}  // namespace opix::app
