#include "colorbatch.h"

// Not built yet.
void runColorBatch(const std::function<int()> &)
{
}
