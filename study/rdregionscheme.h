#ifndef RDREGIONSCHEME_H
#define RDREGIONSCHEME_H

#include "study/rdscheme.h"

namespace veltrano {

// The region codec as a scheme of the study, `region`, swept over max diff:
// setting m is max diff m / 10 grey levels (5 to 320), the other parameters
// at their defaults. Not among the default schemes; --schemes region asks
// for it.
RdScheme rdRegionScheme();

} // namespace veltrano

#endif // RDREGIONSCHEME_H
