// opix_debayer: restores colour images from raw Bayer mosaics.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "Batch.h"
#include "DeviceStartup.h"
#include "ImageFiles.h"
#include "Options.h"
#include "Pipeline.h"

using namespace opix;

namespace {

constexpr int kUsageError = 2;

}  // namespace

int main(int argc, char** argv) {
  app::DebayerSampleOptions options;
  // Help asked for (or no argument at all) is a success; an option that is
  // refused has printed its message and is a usage error.
  const bool parsed = options.parse(argc, argv);
  if (!parsed || options.help) {
    app::printUsage();
    return parsed ? 0 : kUsageError;
  }
  if (!options.quiet) app::printVersion();
  const opixStatus_t device = app::startDevice(options.deviceId, options.cpu, options.quiet);
  if (device != OPIX_OK) {
    std::fputs(app::statusMessage(device), stderr);
    return -1;
  }
  if (options.logPath) {
    std::vector<std::string> otherInputs;
    for (const char* p : {options.matrixAPath, options.matrixBPath, options.lutPath})
      if (p) otherInputs.push_back(p);
    if (!app::logTargetAllowed(options.logPath, options.inputPath ? options.inputPath : "",
                               options.outputPath ? options.outputPath : "", options.isBatch, otherInputs))
      return -1;
    if (opixTraceCreate(options.logPath) == OPIX_OK) opixTraceSetPrintTables(true);
  }

  // A single input that cannot be read is named with the reason before its
  // extension is judged: a missing x.NEF is missing, whatever its type.
  if (!options.isBatch && options.inputPath && access(options.inputPath, R_OK) != 0) {
    std::fprintf(stderr, "Can not open input file %s: %s\n", options.inputPath, std::strerror(errno));
    if (options.logPath) opixTraceClose();
    return -1;
  }
  const bool inputOk = options.inputPath && isFileType(options.inputPath, kFileGrayInput);
  const bool outputOk = options.outputPath && isFileType(options.outputPath, kFileColorOutput);
  if (!inputOk || !outputOk) {
    const std::string in = extensionList(kFileGrayInput), out = extensionList(kFileColorOutput);
    if (!inputOk && !outputOk)
      std::fprintf(stderr,
                   "Input and output file has unappropriate format.\nInput should be %s, output should be %s.\n",
                   in.c_str(), out.c_str());
    else if (!inputOk)
      std::fprintf(stderr, "Input file has unappropriate format.\nShould be %s, not %s.\n", in.c_str(),
                   options.inputPath);
    else
      std::fprintf(stderr, "Output file has unappropriate format.\nShould be %s, not %s.\n", out.c_str(),
                   options.outputPath);
    if (options.logPath) opixTraceClose();
    return -1;
  }

  // A RAW file carries no header: its size can come only from the command line.
  if (hasExtension(options.inputPath, ".raw") && (options.rawWidth == 0 || options.rawHeight == 0)) {
    std::fputs("RAW input needs the -w and -h options\n", stderr);
    if (options.logPath) opixTraceClose();
    return -1;
  }

  if (const char* refusal = app::outputRefusal(options.inputPath, options.outputPath, options.isBatch)) {
    std::fputs(refusal, stderr);
    if (options.logPath) opixTraceClose();
    return -1;
  }

  bool incomplete = false;
  const opixStatus_t status = app::run(options, incomplete);
  std::fputs(app::statusMessage(status), stderr);
  if (options.logPath) opixTraceClose();
  return status == OPIX_OK && !incomplete ? 0 : -1;
}
