// The trace log: blocks per thread, printers and the closed state.
#include <atomic>
#include <map>
#include <regex>
#include <set>
#include <thread>

#include "DeviceSurfaceBuffer.h"
#include "TestSupport.h"
#include "TraceFile.h"

using namespace opix;

namespace {

// The blocks of a trace, each as its lines and thread id.
struct Block {
  std::vector<std::string> lines;
  std::string thread;
};

std::vector<Block> blocks(const std::string& log) {
  std::vector<Block> out;
  Block current;
  std::istringstream in(log);
  std::string line;
  bool afterId = false;
  while (std::getline(in, line)) {
    if (afterId) {
      EXPECT_EQ(line, "") << "every block ends with an empty line";
      afterId = false;
      continue;
    }
    if (line.rfind("thread id: ", 0) == 0) {
      current.thread = line.substr(11);
      out.push_back(current);
      current = Block();
      afterId = true;
    } else {
      current.lines.push_back(line);
    }
  }
  EXPECT_TRUE(current.lines.empty()) << "text after the last block";
  return out;
}

}  // namespace

TEST(Trace, NothingIsWrittenWhileClosed) {
  ASSERT_FALSE(trace::active());
  trace::value("width", 5u);
  trace::text("a line");
  trace::boundary();
  test::TraceCapture capture;
  trace::boundary();  // nothing was kept from before the file was opened
  const auto b = blocks(capture.finish());
  ASSERT_EQ(b.size(), 1u);
  EXPECT_EQ(b[0].lines, (std::vector<std::string>{"Product Name: opix SDK", "Product Version: 0.18.1.0"}));
}

TEST(Trace, MissingFolderIsAnIoError) {
  EXPECT_EQ(opixTraceCreate("/nonexistent-folder/trace.txt"), OPIX_IO_ERROR);
  EXPECT_FALSE(trace::active());
}

TEST(Trace, ValuePrinters) {
  test::TraceCapture capture;
  trace::boundary();
  trace::value("u32", 4000000000u);
  trace::value("i32", -7);
  trace::value("u64", uint64_t{1} << 40);
  trace::value("float", 3.14159f);
  trace::value("big float", 123456.0f);
  trace::value("bool", true);
  trace::value("pointer", reinterpret_cast<const void*>(0xabc0));
  trace::value("format", OPIX_RGB12_PLANAR);
  trace::value("pattern", OPIX_BAYER_GBRG);
  trace::value("type", OPIX_MG2);
  trace::value("filter", OPIX_WHITE_BALANCE);
  trace::value("\tBinning mode", OPIX_BINNING_SUM);
  trace::status(24);
  trace::buffer("null buffer", nullptr);
  auto b = createSurfaceBuffer(70, 66, OPIX_I16);
  setCurrentSize(*b, 65, 64);
  trace::buffer("source buffer", b.get());
  trace::boundary();
  const auto all = blocks(capture.finish());
  ASSERT_EQ(all.size(), 2u);
  std::vector<std::string> lines = all[1].lines;
  ASSERT_EQ(lines.size(), 20u);
  const std::vector<std::string> expected = {
      "\tu32: 4000000000",     "\ti32: -7",           "\tu64: 1099511627776",    "\tfloat: 3.14",
      "\tbig float: 1.23e+05", "\tbool: true",        "\tpointer: 0xabc0",       "\tformat: Other",
      "\tpattern: GBRG",       "\ttype: Other",       "\tfilter: white balance", "\t\tBinning mode: sum",
      "\tStatus: other",       "\tnull buffer: NULL", "\tsource buffer:"};
  for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(lines[i], expected[i]) << i;
  EXPECT_TRUE(std::regex_match(lines[15], std::regex("\t\tpointer: 0x[0-9a-f]+")));
  EXPECT_EQ(lines[16], "\t\tsurface format: 4");
  EXPECT_EQ(lines[17], "\t\tpitch alignment: 4");
  EXPECT_EQ(lines[18], "\t\tmax size: width = 70, height = 66, pitch = 140");
  EXPECT_EQ(lines[19], "\t\tcurrent size: width = 65, height = 64, pitch = 132");
}

TEST(Trace, DeviceMemoryLine) {
  test::TraceCapture capture;
  trace::boundary();
  trace::deviceMemory(5000);
  trace::deviceMemory(0);
  trace::boundary();
  const auto all = blocks(capture.finish());
  ASSERT_EQ(all.size(), 2u);
  const auto& l = all[1].lines;
  ASSERT_EQ(l.size(), 3u);
  EXPECT_EQ(l[0], "\tallocated component memory, KB: 4");
  // Free memory is read anew for each line; other processes change it.
  const std::regex available("\tavailable memory \\(CUDA\\), KB: [0-9]+|Cannot get available memory \\(CUDA\\), KB");
  EXPECT_TRUE(std::regex_match(l[1], available)) << l[1];
  EXPECT_TRUE(std::regex_match(l[2], available)) << l[2];
}

TEST(Trace, ThreadsWriteSeparateBlocks) {
  test::TraceCapture capture;
  trace::boundary();
  // Many threads, more than any fixed table would hold, each writing blocks
  // whose lines name the thread; no block may mix two threads.
  constexpr int kThreads = 300;
  constexpr int kBlocks = 3;
  std::vector<std::thread> threads;
  std::atomic<int> ready{0};
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &ready] {
      ready.fetch_add(1);
      while (ready.load() < kThreads) std::this_thread::yield();
      for (int k = 0; k < kBlocks; ++k) {
        for (int i = 0; i < 4; ++i) trace::value("writer", t);
        trace::boundary();
      }
    });
  }
  for (auto& t : threads) t.join();
  const auto all = blocks(capture.finish());
  ASSERT_EQ(all.size(), 1u + kThreads * kBlocks);
  std::map<std::string, std::string> writerOfThread;
  std::set<std::string> writers;
  for (size_t i = 1; i < all.size(); ++i) {
    ASSERT_EQ(all[i].lines.size(), 4u);
    for (const auto& line : all[i].lines) ASSERT_EQ(line, all[i].lines[0]);
    auto [it, inserted] = writerOfThread.emplace(all[i].thread, all[i].lines[0]);
    if (!inserted) {
      ASSERT_EQ(it->second, all[i].lines[0]) << "two writers behind one thread id";
    }
    writers.insert(all[i].lines[0]);
  }
  EXPECT_EQ(writers.size(), size_t{kThreads});
}
