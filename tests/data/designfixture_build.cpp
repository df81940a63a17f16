// Builds the design library's test fixture into the data tests, so that the reading pass can
// be run over real design rows of a CSV data set.
#include "design/designfixture.cpp"
