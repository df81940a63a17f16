// Compiles the shared set-ups of the data-layer and selection tests into this program.
#include "data/datafixture.cpp"
#include "selection/fitfixture.cpp"
