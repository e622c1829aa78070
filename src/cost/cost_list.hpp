// Every built-in cost model, in tag order (the order of the Python cost
// classes too). The cost model variant, the fitted cost variant, the model
// names of the searches, the minimum segment lengths, the pruning capability
// and the Python cost classes are all generated from this one list.
//
// Adding a cost model:
//   1. a folder src/cost/<name>/ with the fitted cost (a class satisfying
//      SegmentCost, see segment_cost.hpp; its header plain C++ without Eigen,
//      which stays in the folder's .cpp files) and its descriptor (see
//      cost_descriptor.hpp: parameters, names, minimum length, fit, class);
//   2. its descriptor in the list below (replacing its pending placeholder).
// Every search, the factory and the class registration then serve it; a
// descriptor missing a required member fails to compile.
#pragma once

#include "cost/cost_descriptor.hpp"
#include "cost/ar/ar_model.hpp"
#include "cost/clinear/clinear_model.hpp"
#include "cost/l1/l1_model.hpp"
#include "cost/l2/l2_model.hpp"
#include "cost/linear/linear_model.hpp"
#include "cost/mahalanobis/mahalanobis_model.hpp"
#include "cost/normal/normal_model.hpp"
#include "cost/pattern/pattern_model.hpp"
#include "cost/rank/rank_model.hpp"

namespace tarnwell {

using BuiltinCostModels =
    CostList<L2Model, L1Model, RankModel, NormalModel, LinearModel, ARModel, CLinearModel, MahalanobisModel,
             PatternModel>;

}  // namespace tarnwell
