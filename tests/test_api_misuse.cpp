// Misuse of the C interface: handles of the wrong kind, destroyed handles,
// pitches too small for a row, empty sizes, unknown types and reading an
// import before its first Copy. Each gets a status, never a crash, and under
// the sanitizers never a read of freed or foreign memory.
#include <atomic>
#include <functional>
#include <thread>

#include "TestSupport.h"

namespace opix::test {
namespace {

constexpr uint32_t kW = 64, kH = 64;

enum Kind { Import, Debayer, Converter, Filter, Export, Timer, kKinds };

// A call of the interface on a handle of any kind.
using Call = std::function<opixStatus_t(void*)>;

template <class Handle, class F>
Call on(F f) {
  return [f](void* h) { return f(static_cast<Handle>(h)); };
}

// A chain of one object of every kind, and the calls of each kind that take
// a handle, in an order that works on a fresh chain (Destroy last).
struct Chain {
  opixImportFromHostHandle_t import = nullptr;
  opixDebayerHandle_t debayer = nullptr;
  opixSurfaceConverterHandle_t converter = nullptr;
  opixImageFilterHandle_t filter = nullptr;
  opixExportToHostHandle_t exporter = nullptr;
  opixGpuTimerHandle_t timer = nullptr;
  opixDeviceSurfaceBufferHandle_t raw = nullptr;  // the import's destination

  std::vector<uint8_t> mosaic = randomBytes(size_t{kW} * kH, 5);
  std::vector<uint8_t> colour = std::vector<uint8_t>(size_t{3} * kW * kH);
  opixBitDepthConverter_t widen{0, false, 16};
  opixWhiteBalance_t gains{1.5f, 1.0f, 1.0f, 0.5f, OPIX_BAYER_RGGB};
  uint64_t bytes = 0;
  float ms = 0;

  Chain() {
    opixDeviceSurfaceBufferHandle_t rgb = nullptr, wide = nullptr, balanced = nullptr;
    opixSurfaceFormat_t delivered = OPIX_I8;
    EXPECT_EQ(opixImportFromHostCreate(&import, OPIX_I8, kW, kH, &raw), OPIX_OK);
    EXPECT_EQ(opixDebayerCreate(&debayer, OPIX_HQLI, kW, kH, raw, &rgb), OPIX_OK);
    EXPECT_EQ(opixSurfaceConverterCreate(&converter, OPIX_BIT_DEPTH_CONVERTER, &widen, kW, kH, raw, &wide), OPIX_OK);
    EXPECT_EQ(opixImageFilterCreate(&filter, OPIX_WHITE_BALANCE, nullptr, kW, kH, raw, &balanced), OPIX_OK);
    EXPECT_EQ(opixExportToHostCreate(&exporter, &delivered, rgb), OPIX_OK);
    EXPECT_EQ(opixGpuTimerCreate(&timer), OPIX_OK);
  }

  void* handle(Kind k) const {
    const void* const all[kKinds] = {import, debayer, converter, filter, exporter, timer};
    return const_cast<void*>(all[k]);
  }

  std::vector<Call> calls(Kind k) {
    switch (k) {
      case Import: {
        using H = opixImportFromHostHandle_t;
        return {on<H>([&](H h) { return opixImportFromHostCopy(h, mosaic.data(), kW, kW, kH); }),
                on<H>([&](H h) { return opixImportFromHostGetAllocatedGpuMemorySize(h, &bytes); }),
                on<H>(opixImportFromHostDestroy)};
      }
      case Debayer: {
        using H = opixDebayerHandle_t;
        return {on<H>([](H h) { return opixDebayerTransform(h, OPIX_BAYER_RGGB, kW, kH); }),
                on<H>([&](H h) { return opixDebayerGetAllocatedGpuMemorySize(h, &bytes); }), on<H>(opixDebayerDestroy)};
      }
      case Converter: {
        using H = opixSurfaceConverterHandle_t;
        return {on<H>([](H h) { return opixSurfaceConverterTransform(h, nullptr, kW, kH); }),
                on<H>([&](H h) { return opixSurfaceConverterGetAllocatedGpuMemorySize(h, &bytes); }),
                on<H>(opixSurfaceConverterDestroy)};
      }
      case Filter: {
        using H = opixImageFilterHandle_t;
        return {on<H>([&](H h) { return opixImageFilterTransform(h, &gains, kW, kH); }),
                on<H>([&](H h) { return opixImageFilterGetAllocatedGpuMemorySize(h, &bytes); }),
                on<H>(opixImageFilterDestroy)};
      }
      case Export: {
        using H = opixExportToHostHandle_t;
        return {on<H>([&](H h) { return opixExportToHostCopy(h, colour.data(), kW, 3 * kW, kH, nullptr); }),
                on<H>([&](H h) { return opixExportToHostGetAllocatedGpuMemorySize(h, &bytes); }),
                on<H>(opixExportToHostDestroy)};
      }
      case Timer: {
        using H = opixGpuTimerHandle_t;
        return {on<H>(opixGpuTimerStart), on<H>(opixGpuTimerStop),
                on<H>([&](H h) { return opixGpuTimerGetTime(h, &ms); }), on<H>(opixGpuTimerDestroy)};
      }
      default: return {};
    }
  }

  // Every call of kind `k` but its Destroy, on its own handle.
  void useAll(Kind k) {
    auto own = calls(k);
    own.pop_back();
    for (size_t i = 0; i < own.size(); ++i) EXPECT_EQ(own[i](handle(k)), OPIX_OK) << "kind " << k << " call " << i;
  }

  // Destroys in the reverse order of creation: readers before their sources.
  void destroyAll() {
    for (int k = kKinds - 1; k >= 0; --k) EXPECT_EQ(calls(Kind(k)).back()(handle(Kind(k))), OPIX_OK) << "kind " << k;
  }
};

TEST(ApiMisuse, HandleOfAnotherKindIsRefusedAndLeftIntact) {
  Chain chain;
  for (int k = 0; k < kKinds; ++k)
    for (int other = 0; other < kKinds; ++other) {
      if (other == k) continue;
      const auto calls = chain.calls(Kind(other));
      for (size_t i = 0; i < calls.size(); ++i)
        EXPECT_EQ(calls[i](chain.handle(Kind(k))), OPIX_INVALID_HANDLE)
            << "handle of kind " << k << " to call " << i << " of kind " << other;
    }
  // The refused calls, Destroy among them, changed nothing.
  for (int k = 0; k < kKinds; ++k) chain.useAll(Kind(k));
  chain.destroyAll();
}

TEST(ApiMisuse, DestroyedHandleIsRefusedByEveryCall) {
  Chain chain;
  for (int k = 0; k < kKinds; ++k) chain.useAll(Kind(k));
  chain.destroyAll();
  // No Create in between, so no new record can sit at a freed address.
  for (int k = 0; k < kKinds; ++k) {
    const auto calls = chain.calls(Kind(k));
    for (size_t i = 0; i < calls.size(); ++i)
      EXPECT_EQ(calls[i](chain.handle(Kind(k))), OPIX_INVALID_HANDLE) << "kind " << k << " call " << i;
  }
}

TEST(ApiMisuse, PitchBelowOneRowFailsTheCopyEvenForOneRow) {
  opixImportFromHostHandle_t in = nullptr;
  opixDeviceSurfaceBufferHandle_t raw = nullptr;
  ASSERT_EQ(opixImportFromHostCreate(&in, OPIX_RGB8, kW, kH, &raw), OPIX_OK);
  opixSurfaceFormat_t delivered = OPIX_I8;
  opixExportToHostHandle_t out = nullptr;
  ASSERT_EQ(opixExportToHostCreate(&out, &delivered, raw), OPIX_OK);
  const std::vector<uint8_t> row(3 * kW, 7);
  ASSERT_EQ(opixImportFromHostCopy(in, row.data(), kW, 3 * kW, 1), OPIX_OK);
  for (uint32_t pitch : {0u, 3 * kW - 1}) {
    SCOPED_TRACE(pitch);
    // Buffers of exactly one pitch: a copy of the whole row would overrun them.
    std::vector<uint8_t> short_(pitch);
    EXPECT_EQ(opixImportFromHostCopy(in, short_.data(), kW, pitch, 1), OPIX_EXECUTION_FAILURE);
    ASSERT_EQ(opixImportFromHostCopy(in, row.data(), kW, 3 * kW, 1), OPIX_OK);
    EXPECT_EQ(opixExportToHostCopy(out, short_.data(), kW, pitch, 1, nullptr), OPIX_EXECUTION_FAILURE);
  }
  std::vector<uint8_t> back(3 * kW);
  EXPECT_EQ(opixExportToHostCopy(out, back.data(), kW, 3 * kW, 1, nullptr), OPIX_OK);
  EXPECT_EQ(back, row);
  EXPECT_EQ(opixExportToHostDestroy(out), OPIX_OK);
  EXPECT_EQ(opixImportFromHostDestroy(in), OPIX_OK);
}

TEST(ApiMisuse, EmptyMaxSizeAndUnknownConverterTypeCreateNothing) {
  auto* const sentinel = reinterpret_cast<opixImportFromHostHandle_t>(0x10);
  for (auto [w, h] : {std::pair{0u, kH}, std::pair{kW, 0u}}) {
    opixImportFromHostHandle_t in = sentinel;
    opixDeviceSurfaceBufferHandle_t raw = nullptr;
    EXPECT_EQ(opixImportFromHostCreate(&in, OPIX_I8, w, h, &raw), OPIX_INVALID_VALUE) << w << "x" << h;
    EXPECT_EQ(in, sentinel);
    EXPECT_EQ(raw, nullptr);
  }

  Chain chain;
  opixSurfaceConverterHandle_t converter = nullptr;
  opixDeviceSurfaceBufferHandle_t wide = nullptr;
  EXPECT_EQ(opixSurfaceConverterCreate(&converter, static_cast<opixSurfaceConverter_t>(7), &chain.widen, kW, kH,
                                       chain.raw, &wide),
            OPIX_INVALID_VALUE);
  EXPECT_EQ(converter, nullptr);
  EXPECT_EQ(wide, nullptr);
  chain.destroyAll();
}

// Until its first Copy the import holds no image, so whatever reads it is
// refused by its size check.
TEST(ApiMisuse, ReadingTheImportBeforeItsFirstCopyFailsTheSizeCheck) {
  Chain chain;
  // An empty size matches and reads nothing.
  EXPECT_EQ(opixDebayerTransform(chain.debayer, OPIX_BAYER_RGGB, 0, 0), OPIX_OK);
  EXPECT_EQ(opixSurfaceConverterTransform(chain.converter, nullptr, 0, 0), OPIX_OK);
  EXPECT_EQ(opixImageFilterTransform(chain.filter, &chain.gains, 0, 0), OPIX_OK);
  EXPECT_EQ(opixDebayerTransform(chain.debayer, OPIX_BAYER_RGGB, kW, kH), OPIX_INVALID_SIZE);
  EXPECT_EQ(opixSurfaceConverterTransform(chain.converter, nullptr, kW, kH), OPIX_INVALID_SIZE);
  EXPECT_EQ(opixImageFilterTransform(chain.filter, &chain.gains, kW, kH), OPIX_INVALID_SIZE);
  opixSurfaceFormat_t delivered = OPIX_I8;
  opixExportToHostHandle_t direct = nullptr;
  ASSERT_EQ(opixExportToHostCreate(&direct, &delivered, chain.raw), OPIX_OK);
  std::vector<uint8_t> back(chain.mosaic.size());
  EXPECT_EQ(opixExportToHostCopy(direct, back.data(), kW, kW, kH, nullptr), OPIX_INVALID_SIZE);

  ASSERT_EQ(opixImportFromHostCopy(chain.import, chain.mosaic.data(), kW, kW, kH), OPIX_OK);
  EXPECT_EQ(opixDebayerTransform(chain.debayer, OPIX_BAYER_RGGB, kW, kH), OPIX_OK);
  EXPECT_EQ(opixExportToHostCopy(direct, back.data(), kW, kW, kH, nullptr), OPIX_OK);
  EXPECT_EQ(back, chain.mosaic);
  EXPECT_EQ(opixExportToHostDestroy(direct), OPIX_OK);
  chain.destroyAll();
}

// A failed Copy keeps the previous frame and its size: the next stage is
// refused the size of the failed frame instead of taking stale memory for it.
TEST(ApiMisuse, FailedImportCopyKeepsThePreviousFrame) {
  Chain chain;
  ASSERT_EQ(opixImportFromHostCopy(chain.import, chain.mosaic.data(), kW, kW, kH), OPIX_OK);
  const std::vector<uint8_t> narrow(size_t{kW} * kH / 2, 1);
  // A pitch below the row and a null host pointer: nothing is copied.
  EXPECT_EQ(opixImportFromHostCopy(chain.import, narrow.data(), kW / 2, kW / 4, kH), OPIX_EXECUTION_FAILURE);
  EXPECT_EQ(opixImportFromHostCopy(chain.import, nullptr, kW / 2, kW / 2, kH), OPIX_EXECUTION_FAILURE);
  EXPECT_EQ(chain.raw->width, kW);
  EXPECT_EQ(chain.raw->height, kH);
  EXPECT_EQ(chain.raw->pitch, kW);
  EXPECT_EQ(opixDebayerTransform(chain.debayer, OPIX_BAYER_RGGB, kW / 2, kH), OPIX_INVALID_SIZE);
  // The previous frame is still whole.
  opixSurfaceFormat_t delivered = OPIX_I8;
  opixExportToHostHandle_t direct = nullptr;
  ASSERT_EQ(opixExportToHostCreate(&direct, &delivered, chain.raw), OPIX_OK);
  std::vector<uint8_t> back(chain.mosaic.size());
  EXPECT_EQ(opixExportToHostCopy(direct, back.data(), kW, kW, kH, nullptr), OPIX_OK);
  EXPECT_EQ(back, chain.mosaic);
  EXPECT_EQ(opixExportToHostDestroy(direct), OPIX_OK);
  chain.destroyAll();
}

// Every component holds the producer of its source: destroying producers
// first, in any order, leaves the readers working on the last frame, and the
// last reader to go frees the producer (the leak check of the sanitizer
// build sees any that is not).
TEST(ApiMisuse, ProducerDestroyedBeforeItsReaders) {
  const std::vector<uint8_t> mosaic = randomBytes(size_t{kW} * kH, 9);
  auto run = [&](bool producersFirst) {
    opixImportFromHostHandle_t import = nullptr;
    opixImageFilterHandle_t balance = nullptr;
    opixDebayerHandle_t debayer = nullptr;
    opixExportToHostHandle_t exporter = nullptr;
    opixDeviceSurfaceBufferHandle_t raw = nullptr, balanced = nullptr, rgb = nullptr;
    opixSurfaceFormat_t delivered = OPIX_I8;
    const opixWhiteBalance_t gains{1.5f, 1.0f, 1.0f, 0.5f, OPIX_BAYER_RGGB};
    EXPECT_EQ(opixImportFromHostCreate(&import, OPIX_I8, kW, kH, &raw), OPIX_OK);
    EXPECT_EQ(opixImageFilterCreate(&balance, OPIX_WHITE_BALANCE, &gains, kW, kH, raw, &balanced), OPIX_OK);
    EXPECT_EQ(opixDebayerCreate(&debayer, OPIX_HQLI, kW, kH, balanced, &rgb), OPIX_OK);
    EXPECT_EQ(opixExportToHostCreate(&exporter, &delivered, rgb), OPIX_OK);
    EXPECT_EQ(opixImportFromHostCopy(import, mosaic.data(), kW, kW, kH), OPIX_OK);
    if (producersFirst) {
      EXPECT_EQ(opixImportFromHostDestroy(import), OPIX_OK);
      EXPECT_EQ(opixImageFilterTransform(balance, nullptr, kW, kH), OPIX_OK);
      EXPECT_EQ(opixImageFilterDestroy(balance), OPIX_OK);
      EXPECT_EQ(opixDebayerTransform(debayer, OPIX_BAYER_RGGB, kW, kH), OPIX_OK);
      EXPECT_EQ(opixDebayerDestroy(debayer), OPIX_OK);
    } else {
      EXPECT_EQ(opixImageFilterTransform(balance, nullptr, kW, kH), OPIX_OK);
      EXPECT_EQ(opixDebayerTransform(debayer, OPIX_BAYER_RGGB, kW, kH), OPIX_OK);
    }
    std::vector<uint8_t> colour(size_t{3} * kW * kH);
    EXPECT_EQ(opixExportToHostCopy(exporter, colour.data(), kW, 3 * kW, kH, nullptr), OPIX_OK);
    // A second read of the kept buffer gives the same image.
    std::vector<uint8_t> again(colour.size());
    EXPECT_EQ(opixExportToHostCopy(exporter, again.data(), kW, 3 * kW, kH, nullptr), OPIX_OK);
    EXPECT_EQ(again, colour);
    if (!producersFirst) {
      EXPECT_EQ(opixDebayerDestroy(debayer), OPIX_OK);
      EXPECT_EQ(opixImageFilterDestroy(balance), OPIX_OK);
      EXPECT_EQ(opixImportFromHostDestroy(import), OPIX_OK);
    }
    EXPECT_EQ(opixExportToHostDestroy(exporter), OPIX_OK);
    // The handles are gone even where their components lived on.
    EXPECT_EQ(opixDebayerTransform(debayer, OPIX_BAYER_RGGB, kW, kH), OPIX_INVALID_HANDLE);
    return colour;
  };
  const std::vector<uint8_t> expected = run(false);
  EXPECT_EQ(run(true), expected);
}

// Destroy on one thread while another is inside Transform of the same
// handle waits for that call; the Transform thread's next call is refused.
// Without the wait the component was freed under the running call.
TEST(ApiMisuse, DestroyWaitsForATransformOnAnotherThread) {
  constexpr uint32_t kSide = 256;
  const std::vector<uint8_t> mosaic = randomBytes(size_t{kSide} * kSide, 11);
  for (int round = 0; round < 2; ++round) {
    opixImportFromHostHandle_t import = nullptr;
    opixDebayerHandle_t debayer = nullptr;
    opixDeviceSurfaceBufferHandle_t raw = nullptr, rgb = nullptr;
    ASSERT_EQ(opixImportFromHostCreate(&import, OPIX_I8, kSide, kSide, &raw), OPIX_OK);
    ASSERT_EQ(opixDebayerCreate(&debayer, OPIX_HQLI, kSide, kSide, raw, &rgb), OPIX_OK);
    ASSERT_EQ(opixImportFromHostCopy(import, mosaic.data(), kSide, kSide, kSide), OPIX_OK);
    std::atomic<int> done{0};
    std::vector<opixStatus_t> statuses;
    std::thread worker([&] {
      for (;;) {
        const opixStatus_t s = opixDebayerTransform(debayer, OPIX_BAYER_RGGB, kSide, kSide);
        statuses.push_back(s);
        ++done;
        if (s != OPIX_OK) break;
      }
    });
    while (done < 2) std::this_thread::yield();
    // The source's producer may go first as well: the debayer holds it.
    EXPECT_EQ(opixImportFromHostDestroy(import), OPIX_OK);
    EXPECT_EQ(opixDebayerDestroy(debayer), OPIX_OK);
    worker.join();
    ASSERT_FALSE(statuses.empty());
    EXPECT_EQ(statuses.back(), OPIX_INVALID_HANDLE);
    statuses.pop_back();
    EXPECT_EQ(statuses, std::vector<opixStatus_t>(statuses.size(), OPIX_OK));
  }
}

TEST(ApiMisuse, HostMemoryCalls) {
  EXPECT_EQ(opixHostFree(nullptr), OPIX_OK);
  EXPECT_EQ(opixHostMalloc(nullptr, 16), OPIX_INVALID_VALUE);
  void* p = nullptr;
  ASSERT_EQ(opixHostMalloc(&p, 16), OPIX_OK);
  EXPECT_EQ(opixHostFree(p), OPIX_OK);
}

// The live-handle registry is shared by every thread that builds pipelines.
TEST(ApiMisuse, HandlesMadeAndDestroyedOnSeveralThreads) {
  std::vector<std::thread> threads;
  std::vector<int> failures(4, 0);
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&failures, t] {
      for (int i = 0; i < 200; ++i) {
        opixGpuTimerHandle_t timer = nullptr;
        if (opixGpuTimerCreate(&timer) != OPIX_OK || opixGpuTimerStart(timer) != OPIX_OK ||
            opixGpuTimerStop(timer) != OPIX_OK || opixGpuTimerDestroy(timer) != OPIX_OK)
          ++failures[t];
      }
    });
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(failures, std::vector<int>(4, 0));
}

}  // namespace
}  // namespace opix::test
