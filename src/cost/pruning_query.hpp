// What Pelt asks a cost model's own pruning test about one start, and what a
// test must promise. Each model answers in src/cost/<model>/<model>_pruning.*
// with the argument that makes its answer sound; the search runs the same
// loop over every model's test.
//
// The setting. F(x) is the optimal penalised value of the samples before
// start x, and a start's candidate value at a later end T is
//   V_x(T) = F(x) + pen + C(x, T).
// For every model with a test, C(x, T) is (up to a bounded slack the model
// states) a minimum over a parameter θ of a sum of per-sample losses, so
//   V_x(T) = min_θ G_x(θ),   G_x(θ) = F(x) + pen + Σ_{i∈[x,T)} ℓ_i(θ),
// and for two starts the difference G_τ − G_x is F(τ) − F(x) plus (for a
// later x) or minus (for an earlier x) the losses of the samples between
// them: it does not depend on T. A test proves that at every θ some partner
// x beats the candidate τ by more than the test's margin; then at every end
// where those partners are usable, V_x(T) ≤ G_x(θ*) < G_τ(θ*) − margin =
// V_τ(T) − margin for τ's own minimiser θ*, so τ can never again be optimal
// nor tie the optimum, and the search drops it once the newest partner is
// usable.
#pragma once

#include <cstdint>
#include <span>

namespace tarnwell {

// A start and the optimal value F of the samples before it.
struct PruningPartner {
  std::uint64_t position;
  double best;
};

// The candidate start τ and the partners a test may use: `newest`, the end
// just settled (after τ, with its optimal value), `later`, starts between τ
// and newest, and `earlier`, starts before τ (its own predecessor first).
// Every partner is a start the search can use wherever τ can be used, once
// the end has reached newest + min_size.
struct PruningQuery {
  PruningPartner candidate;
  PruningPartner newest;
  std::span<const PruningPartner> later;
  std::span<const PruningPartner> earlier;
};

// A test object, built per search from the fitted cost, the penalty, the
// minimum segment length, the grid step and the tie rule, offers:
//   bool dominated(const PruningQuery&): true only when the argument above
//     holds with a margin that covers the tie tolerance at every value the
//     search can meet and the rounding of the cost's own evaluation and of
//     the test (false whenever in doubt);
//   double floor_prefix(p): the sum over samples i < p of a lower bound of
//     ℓ_i(θ) over every θ, so that a start's cost never grows by less than
//     floor_prefix(T) − floor_prefix(t) − chain_slack() between ends t and
//     T as the search computes them (the slack also covers a cost that is
//     a minimum only up to a bounded excess, which may shrink as T grows);
//   double chain_bound(a, b): a lower bound of the cost's minimum over
//     [a, b) such that, for every start x ≤ t and every partition of [t, T)
//     into pieces, C(x, T) ≥ C(x, t) + Σ chain_bound(piece) − chain_slack()
//     as the search computes them (the superadditivity of a minimum);
//     floor_prefix(b) − floor_prefix(a) where no better bound is known.
// The search uses the last three to skip evaluating starts whose value
// cannot come near the optimum yet, and the first to drop them for good.

}  // namespace tarnwell
