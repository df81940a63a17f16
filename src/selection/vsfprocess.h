// The fit driver of one BY group: picks the road (model averaging, external cross
// validation, the elastic-net L2 search or one plain fit) and runs one fit: the preparing
// data passes, the full model where it is needed, the forced steps and the method.
#pragma once

#include <cstdint>

struct VsfModel;
struct VsfResampling;

[[nodiscard]] int32_t vsfProcess(VsfModel* model, VsfResampling* resampling);
[[nodiscard]] int32_t vsfProcessModel(VsfModel* model);
