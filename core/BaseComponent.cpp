#include "Components.h"
#include "TraceFile.h"

namespace opix {

void BaseComponent::Allocate() {
  ComputeMemorySize();
  allocatedSize_ = memSpace_.requestedSize();
  trace::value("cudaMalloc. Requested size, KB", static_cast<float>(static_cast<double>(allocatedSize_) / 1024.0));
  trace::boundary();
  memSpace_.allocate();
  trace::text("\tcudaMalloc: SUCCESS");
  trace::boundary();
  OnAllocated();
}

}  // namespace opix
