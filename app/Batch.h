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

// Whether the trace log may be written to `log`; the reason it may not goes
// to standard error. The log must not be an input file (`input`, or with
// `batch` every file of that mask, and each of `otherInputs`) nor an output
// file, and an existing one must be a regular file; its symbolic links are
// followed as an output's are.
bool logTargetAllowed(const std::string& log, const std::string& input, const std::string& output, bool batch,
                      const std::vector<std::string>& otherInputs);

}  // namespace opix::app
