#include "Batch.h"

#include <dirent.h>
#include <fnmatch.h>
#include <sys/stat.h>

#include <algorithm>
#include <memory>
#include <set>
#include <utility>

namespace opix::app {

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
    if (e->d_name[0] == '.' || fnmatch(pattern.c_str(), e->d_name, 0) != 0) continue;
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

}  // namespace opix::app
