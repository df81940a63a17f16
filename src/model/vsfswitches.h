// The fitting switches of VsfModelOptions that follow from the method alone, and the fit-control
// words that start every BY group's fit. The statement front end's post-initialisation decides
// every other switch (with its messages); these two calls are the only other place that sets
// a switch.
#pragma once

struct VsfModelOptions;

// The standardizations the penalized paths (columns) and the group solvers (parameters) fit on.
void vsfDeriveFitSwitches(VsfModelOptions* options);
// The fit-control words of a BY group's first fit: transform the pages, leave them transformed
// at the end, record the steps.
void vsfStartGroupFit(VsfModelOptions* options);
