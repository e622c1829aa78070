#include "cost/cost_model.hpp"

#include <array>
#include <utility>

#include "python/error/message.hpp"

namespace tarnwell {

std::uint64_t CostModel::min_segment_length() const noexcept {
  switch (kind) {
    case CostKind::l2: return 1;
    case CostKind::clinear: return 3;
    case CostKind::ar: return order >= UINT64_MAX - 1 ? UINT64_MAX : std::max<std::uint64_t>(5, order + 1);
    case CostKind::l1:
    case CostKind::rank:
    case CostKind::normal:
    case CostKind::linear:
    case CostKind::mahalanobis: return 2;
  }
  return 1;
}

Result<CostModel> parse_model(std::string_view name) {
  static constexpr std::array<std::pair<std::string_view, CostKind>, 9> names = {{
      {"l2", CostKind::l2},
      {"l1", CostKind::l1},
      {"rank", CostKind::rank},
      {"normal", CostKind::normal},
      {"linear", CostKind::linear},
      {"ar", CostKind::ar},
      {"clinear", CostKind::clinear},
      {"mahalanobis", CostKind::mahalanobis},
      {"ml", CostKind::mahalanobis},
  }};
  std::string lowered = ascii_lowercase(name);
  for (const auto& [known, kind] : names) {
    if (lowered == known) {
      CostModel model;
      model.kind = kind;
      return model;
    }
  }
  return errors::fail(errors::unsupported_model(std::move(lowered)));
}

std::string_view cost_kind_name(CostKind kind) noexcept {
  switch (kind) {
    case CostKind::l2: return "l2";
    case CostKind::l1: return "l1";
    case CostKind::rank: return "rank";
    case CostKind::normal: return "normal";
    case CostKind::linear: return "linear";
    case CostKind::ar: return "ar";
    case CostKind::clinear: return "clinear";
    case CostKind::mahalanobis: return "mahalanobis";
  }
  return "";
}

}  // namespace tarnwell
