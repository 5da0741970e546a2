// The one exception type of the SDK. Every failure below the interface is
// thrown as an opixException; the interface functions turn it into a status.
#pragma once

#include <exception>

#include "opix.h"

class opixException : public std::exception {
 public:
  opixException(opixStatus_t status, const char* file, int line) : status_(status), file_(file), line_(line) {}
  opixException(opixStatus_t status, const char* file, int line, int cudaError, const char* cudaCall)
      : status_(status), file_(file), line_(line), cudaError_(cudaError), cudaCall_(cudaCall) {}

  const char* what() const noexcept override { return "OPIXSDK exception"; }
  opixStatus_t status() const { return status_; }
  const char* file() const { return file_; }
  int line() const { return line_; }
  int cudaError() const { return cudaError_; }
  const char* cudaCall() const { return cudaCall_; }

 private:
  opixStatus_t status_;
  const char* file_;
  int line_;
  int cudaError_ = 0;
  const char* cudaCall_ = nullptr;
};

// Each source defines OPIX_SOURCE as its path without extension ("core/MemSpace").
// The image filters keep the names their throw sites are known by, without
// their folder ("opix_imageFilters/ImageFilterMedian" for
// opix_imageFilters/median/ImageFilterMedian.cpp).
#define OPIX_THROW(status) throw opixException((status), OPIX_SOURCE, __LINE__)
#define OPIX_THROW_CUDA(status, error, call) \
  throw opixException((status), OPIX_SOURCE, __LINE__, static_cast<int>(error), (call))
#define OPIX_THROW_AT(status, source) throw opixException((status), (source), __LINE__)
