// Detail tables of constructed effects with DETAILS: the frame that groups them per effect,
// the level tables of MULTIMEMBER and COLLECTION effects, and the spline, polynomial and lag
// tables. They show what levelisation computed for the BY group and change nothing.
#pragma once

#include "effects/levdesign.h"

struct RvqObject;

void zlevPrintEftDetails(RvqObject* parent, LevDesign* design);
void zlevEftLevelInfo(RvqObject* parent, LevDesign* design, LevEftVar* record);

void zlevPrintSplineKnots(RvqObject* parent, LevDesign* design, LevEftVar* record);
void zlevPrintBSplineDetails(RvqObject* parent, LevDesign* design, LevEftVar* record);
void zlevPrintTPFSplineDetails(RvqObject* parent, LevDesign* design, LevEftVar* record);

void zlevPrintPolynomialDetails(RvqObject* parent, LevEftVar* record);
void zlevPrintPolynomialScaling(RvqObject* parent, LevDesign* design, LevEftVar* record);

void zlevPrintLagInfo(RvqObject* parent, LevEftVar* record, LevDesign* design);
void zlevPrintLagDesignLevels(RvqObject* parent, LevEftVar* record, LevDesign* design);
void zlevPrintLagDesign(RvqObject* parent, LevEftVar* record, LevDesign* design);
