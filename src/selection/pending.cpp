// Stand-in for the resampling drivers until they are built: with no resampler started
// there is nothing to free.
#include "selection/vsfresample.h"

void vsfResamplersCleanup(VsfResampling*) {}
