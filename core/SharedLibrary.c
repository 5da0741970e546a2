/* libopix.so: its objects come whole from the static library (see
 * cmake/opixInstall.cmake); this unit is the shared target's own source, and
 * a check that opix.h compiles as C. */
#include "opix.h"
