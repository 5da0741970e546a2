// What every image filter declares about itself, once, next to its class:
// the types it serves with their display names and accepted source formats,
// the destination format rule, the parameter record's size and tracer, and
// the factory. The registry collects the SDK's declarations (FilterRegistry.cpp,
// one line per filter); the frontend's dispatch, the type names, the record
// traces and the format checks all read it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "opix.h"

namespace opix {

class ImageFilterBase;

// Accepted source formats: one bit per opixSurfaceFormat_t.
constexpr uint32_t formatBit(opixSurfaceFormat_t f) { return 1u << f; }
constexpr uint32_t kI8 = formatBit(OPIX_I8), kI10 = formatBit(OPIX_I10), kI12 = formatBit(OPIX_I12),
                   kI14 = formatBit(OPIX_I14), kI16 = formatBit(OPIX_I16), kRgb8 = formatBit(OPIX_RGB8),
                   kBgr8 = formatBit(OPIX_BGR8), kRgb12P = formatBit(OPIX_RGB12_PLANAR),
                   kRgb16P = formatBit(OPIX_RGB16_PLANAR);
constexpr uint32_t kGray = kI8 | kI10 | kI12 | kI14 | kI16;

// One filter type a declaration serves.
struct FilterType {
  opixImageFilterType_t type;
  const char* name;  // display name
  uint32_t sources;  // accepted source formats
  // The trace prints the display name, or "Other" for the types it has
  // always left unnamed (the plain blur and flat-field correction).
  bool namedInTrace = true;
};
constexpr bool kOtherInTrace = false;

struct FilterDeclaration {
  // The entry of a type this declaration serves; null for any other type.
  constexpr const FilterType* entry(opixImageFilterType_t type) const {
    for (size_t i = 0; i < typeCount; ++i)
      if (types[i].type == type) return &types[i];
    return nullptr;
  }

  using Factory = std::unique_ptr<ImageFilterBase> (*)();
  using RecordBytes = uint64_t (*)(opixImageFilterType_t type);
  using RecordTracer = void (*)(opixImageFilterType_t type, const void* record);
  using DestinationRule = opixSurfaceFormat_t (*)(opixImageFilterType_t type, opixSurfaceFormat_t source);

  template <size_t N>
  constexpr FilterDeclaration(const FilterType (&types_)[N], Factory make_, RecordBytes recordBytes_,
                              RecordTracer traceRecord_ = nullptr, DestinationRule destinationFormat_ = nullptr,
                              bool sourcesCheckedByFilter_ = false)
      : types(types_),
        typeCount(N),
        make(make_),
        recordBytes(recordBytes_),
        traceRecord(traceRecord_),
        destinationFormat(destinationFormat_),
        sourcesCheckedByFilter(sourcesCheckedByFilter_) {}

  const FilterType* types;
  size_t typeCount;
  Factory make;
  // Bytes of the parameter record of a type (0: the filter takes none).
  RecordBytes recordBytes;
  // Writes a parameter record (or its null line) to the trace when a Create
  // or Transform receives it; null for a filter that traces its record
  // itself, where its own trace lines put it.
  RecordTracer traceRecord;
  // The destination format of a type on a source format; null: the source's.
  DestinationRule destinationFormat;
  // The accepted formats are checked when the filter reserves its memory,
  // after the common size checks, rather than before the filter is made.
  bool sourcesCheckedByFilter;
};

template <class Filter>
std::unique_ptr<ImageFilterBase> makeFilter() {
  return std::make_unique<Filter>();
}

template <class Record>
uint64_t recordBytesOf(opixImageFilterType_t) {
  return sizeof(Record);
}
inline uint64_t noRecord(opixImageFilterType_t) { return 0; }

// The declaration and type entry of a filter type; null for a type that no
// filter serves.
const FilterDeclaration* findFilter(opixImageFilterType_t type, const FilterType** entry = nullptr);

// Every declaration: the SDK's, then those that programs registered.
std::vector<const FilterDeclaration*> filterDeclarations();

// Adds a filter of a program's own (tests, extensions) to the registry; false,
// and nothing added, when one of its types is already served.
bool registerFilter(const FilterDeclaration& declaration);

// The filter of a type on a source format, made but not initialised and
// bound to its declaration (its Init refuses any type that declaration does
// not serve): raises OPIX_INVALID_VALUE for a type no filter serves,
// OPIX_UNSUPPORTED_SURFACE for a source format the type does not accept.
std::unique_ptr<ImageFilterBase> createFilter(opixImageFilterType_t type, opixSurfaceFormat_t source);

// Raises OPIX_UNSUPPORTED_SURFACE unless the type accepts the source format.
void checkSource(const FilterType& entry, opixSurfaceFormat_t source);

// The type's name as the trace prints it: the display name, or "Other" for a
// type the trace leaves unnamed or no filter serves.
const char* filterTraceName(opixImageFilterType_t type);

}  // namespace opix
