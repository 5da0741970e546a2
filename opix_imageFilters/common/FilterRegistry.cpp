#include "FilterRegistry.h"

#include <mutex>

#include "ImageFilterBase.h"
#include "opixException.h"

#define OPIX_SOURCE "opix_imageFilters/common/FilterRegistry"

// The SDK's filters, one line each: the declaration `k<Name>Filter` that the
// filter's folder defines.
#define OPIX_SDK_FILTERS(X) \
  X(BadPixelCorrection)     \
  X(BaseColorCorrection)    \
  X(BayerBlackShift)        \
  X(Binning)                \
  X(ColorSaturation)        \
  X(Column)                 \
  X(Defringe)               \
  X(Ffc)                    \
  X(GaussianSharpen)        \
  X(Lut)                    \
  X(LutBayer)               \
  X(Lut3D)                  \
  X(Mad)                    \
  X(Median)                 \
  X(ToneCurve)              \
  X(WhiteBalance)

namespace opix {

#define OPIX_DECLARE_FILTER(name) extern const FilterDeclaration k##name##Filter;
OPIX_SDK_FILTERS(OPIX_DECLARE_FILTER)
#undef OPIX_DECLARE_FILTER

namespace {

struct Registry {
  std::mutex lock;
  std::vector<const FilterDeclaration*> declarations;
};

Registry& registry() {
#define OPIX_LIST_FILTER(name) &k##name##Filter,
  static Registry r{{}, {OPIX_SDK_FILTERS(OPIX_LIST_FILTER)}};
#undef OPIX_LIST_FILTER
  return r;
}

const FilterDeclaration* find(const std::vector<const FilterDeclaration*>& list, opixImageFilterType_t type,
                              const FilterType** entry) {
  for (const FilterDeclaration* d : list)
    if (const FilterType* e = d->entry(type)) {
      if (entry) *entry = e;
      return d;
    }
  return nullptr;
}

}  // namespace

const FilterDeclaration* findFilter(opixImageFilterType_t type, const FilterType** entry) {
  Registry& r = registry();
  std::lock_guard<std::mutex> hold(r.lock);
  return find(r.declarations, type, entry);
}

std::vector<const FilterDeclaration*> filterDeclarations() {
  Registry& r = registry();
  std::lock_guard<std::mutex> hold(r.lock);
  return r.declarations;
}

bool registerFilter(const FilterDeclaration& declaration) {
  Registry& r = registry();
  std::lock_guard<std::mutex> hold(r.lock);
  for (size_t i = 0; i < declaration.typeCount; ++i)
    if (find(r.declarations, declaration.types[i].type, nullptr)) return false;
  r.declarations.push_back(&declaration);
  return true;
}

void checkSource(const FilterType& entry, opixSurfaceFormat_t source) {
  if (source < OPIX_I8 || source > OPIX_RGB16_PLANAR || !(entry.sources & formatBit(source)))
    OPIX_THROW(OPIX_UNSUPPORTED_SURFACE);
}

std::unique_ptr<ImageFilterBase> createFilter(opixImageFilterType_t type, opixSurfaceFormat_t source) {
  const FilterType* entry = nullptr;
  const FilterDeclaration* d = findFilter(type, &entry);
  if (!d) OPIX_THROW(OPIX_INVALID_VALUE);
  if (d->sourcesCheckedByFilter) {
    if (source < OPIX_I8 || source > OPIX_RGB16_PLANAR) OPIX_THROW(OPIX_UNSUPPORTED_SURFACE);
  } else {
    checkSource(*entry, source);
  }
  std::unique_ptr<ImageFilterBase> filter = d->make();
  filter->declaration_ = d;
  return filter;
}

const char* filterTraceName(opixImageFilterType_t type) {
  const FilterType* entry = nullptr;
  return findFilter(type, &entry) && entry->namedInTrace ? entry->name : "Other";
}

}  // namespace opix

extern "C" const char* opixImageFilterTypeName(opixImageFilterType_t type) {
  const opix::FilterType* entry = nullptr;
  return opix::findFilter(type, &entry) ? entry->name : "Other";
}
