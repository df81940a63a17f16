// Compiles the data layer's shared test set-up into this test program.
#include "data/datafixture.cpp"
