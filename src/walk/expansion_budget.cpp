// The expansion budget of one archive file.
#include "walk/expansion_budget.h"

#include <algorithm>

namespace {

constexpr uint64_t budget_per_archive_byte = 1032;
constexpr uint64_t nested_allowance = uint64_t{64} << 20;
constexpr uint64_t own_images_allowance = uint64_t{16} << 30;

uint64_t budget_part(uint64_t archive_size, uint64_t allowance) {
  if (archive_size > (UINT64_MAX - allowance) / budget_per_archive_byte) return UINT64_MAX;
  return archive_size * budget_per_archive_byte + allowance;
}

}  // namespace

ExpansionBudget expansion_budget_for(uint64_t archive_size) {
  return {budget_part(archive_size, nested_allowance), budget_part(archive_size, own_images_allowance), false};
}

uint64_t& image_budget_part(ExpansionBudget& budget, int level) {
  return level == 1 ? budget.own_images_left : budget.nested_left;
}

bool charge_bytes(ExpansionBudget& budget, uint64_t& part, uint64_t size) {
  if (size > part) {
    budget.exhausted = true;
    return false;
  }
  part -= size;
  return true;
}

bool charge_entry(ExpansionBudget& budget, uint64_t& part, uint64_t size) {
  return charge_bytes(budget, part, std::max(size, least_entry_charge));
}

bool charge_unopened_archive(ExpansionBudget& budget, uint64_t size) {
  size = std::max(size, least_entry_charge);
  const uint64_t charge = size > UINT64_MAX / budget_per_archive_byte ? UINT64_MAX : size * budget_per_archive_byte;
  return charge_bytes(budget, budget.nested_left, charge);
}
