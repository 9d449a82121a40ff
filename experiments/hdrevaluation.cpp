#include "hdrevaluation.h"

// Not built yet.
void runHdrEvaluation()
{
}
