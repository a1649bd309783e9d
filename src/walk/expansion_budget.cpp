// The expansion budget of one archive file.
#include "walk/expansion_budget.h"

#include <algorithm>

namespace {

constexpr uint64_t budget_per_archive_byte = 1032;
constexpr uint64_t budget_allowance = uint64_t{64} << 20;

}  // namespace

ExpansionBudget expansion_budget_for(uint64_t archive_size) {
  if (archive_size > (UINT64_MAX - budget_allowance) / budget_per_archive_byte) return {UINT64_MAX, false};
  return {archive_size * budget_per_archive_byte + budget_allowance, false};
}

bool charge_bytes(ExpansionBudget& budget, uint64_t size) {
  if (size > budget.left) {
    budget.exhausted = true;
    return false;
  }
  budget.left -= size;
  return true;
}

bool charge_entry(ExpansionBudget& budget, uint64_t size) {
  return charge_bytes(budget, std::max(size, least_entry_charge));
}
