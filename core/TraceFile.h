// The SDK's trace log: a human-readable record of every interface call.
//
// Each thread collects its lines in a slot of its own and writes them to the
// file as one block at every call boundary, so the blocks of different threads
// never interleave. While no file is open every operation returns at once.
#pragma once

#include <cstdint>
#include <sstream>
#include <string>

#include "opix.h"

namespace opix::trace {

// Indents of argument lines and of the lines inside a buffer or record.
constexpr const char* kIndent1 = "\t";
constexpr const char* kIndent2 = "\t\t";

bool active();
bool printTables();

// Opens (creating or truncating) the trace file and writes the product lines.
void open(const char* path);
void setPrintTables(bool on);
// Passes a call boundary for the calling thread, then flushes and closes.
void close();

// The calling thread's line buffer. Only call while active().
std::ostringstream& line();

// A line of text without indent.
void text(const std::string& s);
// A text line followed by a value: "<text>: <value>" without indent.
void text(const char* label, const char* value);

// Value printers: one tab, the name, ": " and the value.
void value(const char* name, const char* s);
void value(const char* name, const std::string& s);
void value(const char* name, const void* pointer);
void value(const char* name, uint32_t v);
void value(const char* name, int32_t v);
void value(const char* name, uint64_t v);
void value(const char* name, float v);
void value(const char* name, bool v);
void value(const char* name, opixSurfaceFormat_t v);
void value(const char* name, opixBayerPattern_t v);
void value(const char* name, opixBinningMode_t v);
void value(const char* name, opixDebayerType_t v);
void value(const char* name, opixImageFilterType_t v);
void value(const char* name, opixColorSaturationOperationType_t v);
void value(const char* name, opixConvertType_t v);
void value(const char* name, opixSurfaceConverter_t v);

// Record printers write fields at two tabs.
void field(const char* name, const std::string& value);
void field(const char* name, const void* pointer);
template <class T>
void field(const char* name, T v) {
  if (!active()) return;
  std::ostringstream s;
  s.precision(3);
  s << v;
  field(name, s.str());
}

// The status line: one tab, "Status: " and the status name.
void status(int status);

// A device surface buffer: one line for null, else the record's fields.
void buffer(const char* name, const opixDeviceSurfaceBuffer_t* b);

// The component's memory (when non-zero) and the device's free memory.
void deviceMemory(uint64_t componentBytes);

// Writes the calling thread's collected lines as one block.
void boundary();

// A float in the trace's format: 3 significant digits.
std::string formatFloat(double v);
// A pointer in the trace's format: "0x" and its hexadecimal digits.
std::string formatPointer(const void* p);

}  // namespace opix::trace
