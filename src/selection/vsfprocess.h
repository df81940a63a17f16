// The fit driver of one BY group: picks the road (model averaging, external cross
// validation, the elastic-net L2 search or one plain fit) and runs one fit: the preparing
// data passes, the full model where it is needed, the forced steps and the method.
#pragma once

#include "support/stepcodes.h"

#include <cstdint>

struct VsfModel;
struct VsfResampling;

[[nodiscard]] VsfStatus vsfProcess(VsfModel* model, VsfResampling* resampling);
[[nodiscard]] VsfStatus vsfProcessModel(VsfModel* model);
