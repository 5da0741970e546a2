// OPIX_HD marks the maths shared by the CUDA and host kernel drivers.
#pragma once

#if defined(__CUDACC__)
#define OPIX_HD __host__ __device__ __forceinline__
#else
#define OPIX_HD inline
#endif
