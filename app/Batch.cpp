#include "Batch.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <memory>
#include <set>
#include <utility>

#include "FileIo.h"

namespace opix::app {

namespace {

bool sameChar(char a, char b, bool ignoreCase) {
  if (!ignoreCase) return a == b;
  return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
}

// '*' matches any run of characters and '?' any one; every other character
// stands for itself.
bool globMatch(const char* pattern, const char* name, bool ignoreCase) {
  const char* star = nullptr;  // the last '*' seen, and where its run ends
  const char* resume = nullptr;
  while (*name) {
    if (*pattern == '*') {
      star = pattern++;
      resume = name;
    } else if (*pattern == '?' || (*pattern && sameChar(*pattern, *name, ignoreCase))) {
      ++pattern;
      ++name;
    } else if (star) {
      pattern = star + 1;
      name = ++resume;
    } else {
      return false;
    }
  }
  while (*pattern == '*') ++pattern;
  return *pattern == '\0';
}

// The name part of the mask matches case for case; its extension (from the
// last '.') matches in any case, as the extension checks do.
bool maskMatches(const std::string& pattern, const std::string& name) {
  const size_t patternDot = pattern.find_last_of('.');
  if (patternDot == std::string::npos) return globMatch(pattern.c_str(), name.c_str(), false);
  const size_t nameDot = name.find_last_of('.');
  if (nameDot == std::string::npos) return false;
  return globMatch(pattern.substr(0, patternDot).c_str(), name.substr(0, nameDot).c_str(), false) &&
         globMatch(pattern.c_str() + patternDot, name.c_str() + nameDot, true);
}

}  // namespace

std::vector<std::string> findFiles(const std::string& mask) {
  std::string m = mask;
  std::replace(m.begin(), m.end(), '\\', '/');
  const size_t slash = m.find_last_of('/');
  const std::string dirPart = slash == std::string::npos ? std::string() : m.substr(0, slash + 1);
  const std::string pattern = slash == std::string::npos ? m : m.substr(slash + 1);
  std::vector<std::string> paths;
  std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(dirPart.empty() ? "." : dirPart.c_str()), closedir);
  if (!dir) return paths;
  while (const dirent* e = readdir(dir.get())) {
    if (e->d_name[0] == '.' || !maskMatches(pattern, e->d_name)) continue;
    const std::string path = dirPart + e->d_name;
    struct stat st {};
    if (stat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) continue;
    paths.push_back(path);
  }
  std::sort(paths.begin(), paths.end());  // bytewise; a prefix sorts first
  return paths;
}

std::string outputName(const std::string& mask, size_t index) {
  const size_t star = mask.find('*');
  if (star == std::string::npos) return mask;
  return mask.substr(0, star) + std::to_string(index) + mask.substr(star + 1);
}

namespace {

using FileId = std::pair<dev_t, ino_t>;

bool fileId(const std::string& path, FileId& id) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return false;
  id = {st.st_dev, st.st_ino};
  return true;
}

}  // namespace

const char* outputRefusal(const std::string& input, const std::string& output, bool batch) {
  static const char* const kSameFile = "Output file must not be the input file\n";
  const std::vector<std::string> inputs = batch ? findFiles(input) : std::vector<std::string>{input};
  if (batch && inputs.size() > 1 && output.find('*') == std::string::npos)
    return "Output mask must contain '*' for more than one input file\n";
  std::set<FileId> ids;
  FileId id;
  for (const std::string& path : inputs)
    if (fileId(path, id)) ids.insert(id);
  for (size_t i = 0; i < inputs.size(); ++i)
    if (fileId(batch ? outputName(output, i) : output, id) && ids.count(id)) return kSameFile;
  return nullptr;
}

bool logTargetAllowed(const std::string& log, const std::string& input, const std::string& output, bool batch,
                      const std::vector<std::string>& otherInputs) {
  std::string target;
  if (!followLinks(log, target)) return false;
  struct stat st {};
  if (lstat(target.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    std::fprintf(stderr, "%s is not a regular file\n", log.c_str());
    return false;
  }
  FileId logId{};
  const bool logExists = fileId(target, logId);
  // The same file by identity when both exist, else by the name a write
  // would make.
  auto same = [&](const std::string& path) {
    FileId id;
    if (logExists) return fileId(path, id) && id == logId;
    std::string other;
    return followLinks(path, other, true) && other == target;
  };
  std::vector<std::string> inputs = batch ? findFiles(input) : std::vector<std::string>{input};
  for (const std::string& path : inputs)
    if (same(path)) {
      std::fputs("Log file must not be an input file\n", stderr);
      return false;
    }
  for (const std::string& path : otherInputs)
    if (same(path)) {
      std::fputs("Log file must not be an input file\n", stderr);
      return false;
    }
  for (size_t i = 0; i < std::max<size_t>(inputs.size(), 1); ++i)
    if (same(batch ? outputName(output, i) : output)) {
      std::fputs("Log file must not be an output file\n", stderr);
      return false;
    }
  return true;
}

}  // namespace opix::app
