#include "TraceFile.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <deque>
#include <iomanip>
#include <mutex>

#include "DeviceContext.h"
#include "Version.h"
#include "opixException.h"

#define OPIX_SOURCE "core/TraceFile"

namespace opix::trace {

namespace {

constexpr const char* kProductName = "opix SDK";

struct Slot {
  std::string key;
  std::ostringstream lines;
};

// The per-thread buffers. Slots are never removed while the process runs, so
// a thread keeps a pointer to its own. Every thread gets a slot of its own,
// however many trace.
class ThreadTable {
 public:
  Slot& find(const std::string& key) {
    std::lock_guard<std::mutex> lock(lock_);
    for (Slot& s : slots_)
      if (s.key == key) return s;
    slots_.emplace_back();
    slots_.back().key = key;
    return slots_.back();
  }

 private:
  std::mutex lock_;
  std::deque<Slot> slots_;  // a deque keeps references valid as it grows
};

class TraceFile {
 public:
  ~TraceFile() {
    std::lock_guard<std::mutex> lock(lock_);
    if (file_) std::fclose(file_);
    file_ = nullptr;
  }

  bool active() const { return open_.load(std::memory_order_acquire); }

  void open(const char* path) {
    std::lock_guard<std::mutex> lock(lock_);
    FILE* f = path ? std::fopen(path, "w+") : nullptr;
    if (!f) OPIX_THROW(OPIX_IO_ERROR);
    if (file_) std::fclose(file_);
    file_ = f;
    open_.store(true, std::memory_order_release);
  }

  void close() {
    std::lock_guard<std::mutex> lock(lock_);
    open_.store(false, std::memory_order_release);
    if (file_) {
      std::fflush(file_);
      std::fclose(file_);
    }
    file_ = nullptr;
  }

  void write(const std::string& block) {
    std::lock_guard<std::mutex> lock(lock_);
    if (!file_) return;
    std::fwrite(block.data(), 1, block.size(), file_);
    std::fflush(file_);
  }

 private:
  std::mutex lock_;
  FILE* file_ = nullptr;
  std::atomic<bool> open_{false};
};

TraceFile& traceFile() {
  static TraceFile f;
  return f;
}

ThreadTable& threadTable() {
  static ThreadTable t;
  return t;
}

std::atomic<bool> g_printTables{false};

const std::string& threadKey() {
  thread_local const std::string key = std::to_string(static_cast<long>(syscall(SYS_gettid)));
  return key;
}

Slot& mySlot() {
  thread_local Slot* slot = nullptr;
  if (!slot) slot = &threadTable().find(threadKey());
  return *slot;
}

void indented(const char* name, const std::string& v) {
  if (!active()) return;
  line() << kIndent1 << name << ": " << v << "\n";
}

template <class E>
void named(const char* name, const char* (*nameOf)(E), E v) {
  if (!active()) return;
  indented(name, nameOf(v));
}

}  // namespace

bool active() { return traceFile().active(); }
bool printTables() { return g_printTables.load(std::memory_order_relaxed); }

void open(const char* path) {
  traceFile().open(path);
  text("Product Name", kProductName);
  text("Product Version", versionText());
}

void setPrintTables(bool on) { g_printTables.store(on, std::memory_order_relaxed); }

void close() {
  boundary();
  traceFile().close();
}

std::ostringstream& line() { return mySlot().lines; }

void text(const std::string& s) {
  if (!active()) return;
  line() << s << "\n";
}

void text(const char* label, const char* v) {
  if (!active()) return;
  line() << label << ": " << v << "\n";
}

std::string formatFloat(double v) {
  std::ostringstream s;
  s << std::setprecision(3) << v;
  return s.str();
}

void value(const char* name, const char* s) { indented(name, s ? s : "(null)"); }
void value(const char* name, const std::string& s) { indented(name, s); }

std::string formatPointer(const void* p) {
  std::ostringstream s;
  s << "0x" << std::hex << reinterpret_cast<uintptr_t>(p);
  return s.str();
}

void value(const char* name, const void* pointer) {
  if (!active()) return;
  indented(name, formatPointer(pointer));
}

void value(const char* name, uint32_t v) { indented(name, std::to_string(v)); }
void value(const char* name, int32_t v) { indented(name, std::to_string(v)); }
void value(const char* name, uint64_t v) { indented(name, std::to_string(v)); }
void value(const char* name, float v) { indented(name, formatFloat(v)); }
void value(const char* name, bool v) { indented(name, v ? "true" : "false"); }
void value(const char* name, opixSurfaceFormat_t v) { named(name, opixSurfaceFormatName, v); }
void value(const char* name, opixBayerPattern_t v) { named(name, opixBayerPatternName, v); }
void value(const char* name, opixBinningMode_t v) { named(name, opixBinningModeName, v); }
void value(const char* name, opixDebayerType_t v) { named(name, opixDebayerTypeName, v); }
void value(const char* name, opixColorSaturationOperationType_t v) { named(name, opixOperationTypeName, v); }
void value(const char* name, opixConvertType_t v) { named(name, opixConvertTypeName, v); }
void value(const char* name, opixSurfaceConverter_t v) { indented(name, std::to_string(static_cast<int>(v))); }

void field(const char* name, const std::string& v) {
  if (!active()) return;
  line() << kIndent2 << name << ": " << v << "\n";
}

void field(const char* name, const void* pointer) {
  if (!active()) return;
  field(name, formatPointer(pointer));
}

void status(int s) { indented("Status", opixStatusName(s)); }

void buffer(const char* name, const opixDeviceSurfaceBuffer_t* b) {
  if (!active()) return;
  std::ostringstream& out = line();
  if (!b) {
    out << kIndent1 << name << ": NULL\n";
    return;
  }
  out << kIndent1 << name << ":\n";
  out << kIndent2 << "pointer: " << formatPointer(b) << "\n";
  out << kIndent2 << "surface format: " << static_cast<int>(b->surfaceFormat) << "\n";
  out << kIndent2 << "pitch alignment: " << b->pitchAlignment << "\n";
  out << kIndent2 << "max size: width = " << b->maxWidth << ", height = " << b->maxHeight << ", pitch = " << b->maxPitch
      << "\n";
  out << kIndent2 << "current size: width = " << b->width << ", height = " << b->height << ", pitch = " << b->pitch
      << "\n";
}

void deviceMemory(uint64_t componentBytes) {
  if (!active()) return;
  if (componentBytes != 0) indented("allocated component memory, KB", std::to_string(componentBytes / 1024));
  uint64_t freeBytes = 0;
  if (deviceFreeMemory(&freeBytes))
    indented("available memory (CUDA), KB", std::to_string(freeBytes / 1024));
  else
    text("Cannot get available memory (CUDA), KB");
}

void boundary() {
  if (!active()) return;
  Slot& slot = mySlot();
  std::string block = slot.lines.str();
  if (block.empty()) return;
  block += "thread id: " + slot.key + "\n\n";
  slot.lines.str(std::string());
  slot.lines.clear();
  traceFile().write(block);
}

}  // namespace opix::trace
