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

// Why the output names cannot serve these inputs, or nullptr when they can: a
// result must not replace an input file, and an output mask serving more
// than one input file numbers them with its '*'. `input` and `output` are a
// file and its result, or with `batch` the two masks.
const char* outputRefusal(const std::string& input, const std::string& output, bool batch);

}  // namespace opix::app
