#include "Folds.h"

#include <algorithm>
#include <map>
#include <utility>

#include "EvalGroups.h"
#include "Search.h"

namespace tune {

std::string planFolds(const std::vector<std::string>& names, const std::string& pattern, int folds,
                      uint64_t seed, FoldPlan& plan) {
  std::string error;
  const auto compiled = velmora::evaluation::GroupPattern::compile(pattern, error);
  if (!compiled) {
    return error;
  }
  std::vector<std::string> groupOf;
  bool anyGroup = false;
  for (const std::string& name : names) {
    groupOf.push_back(compiled->groupOf(name, error));
    if (!error.empty()) {
      return error;
    }
    anyGroup = anyGroup || !groupOf.back().empty();
  }
  if (!anyGroup) {
    return "--group-by: '" + pattern + "' names no group in any recording's file name";
  }
  return planFoldsOfGroups(std::move(groupOf), "--group-by", folds, seed, plan);
}

std::string planFoldsOfGroups(std::vector<std::string> groupOf, const std::string& option,
                              int folds, uint64_t seed, FoldPlan& plan) {
  plan = FoldPlan{};
  std::map<std::string, int> foldOfGroup;
  for (const std::string& group : groupOf) {
    plan.unmatched += group.empty() ? 1 : 0;
    foldOfGroup.emplace(group, 0);
  }
  plan.groupOf = std::move(groupOf);
  if (plan.unmatched == static_cast<int64_t>(plan.groupOf.size())) {
    return option + " names no group for any recording";
  }
  if (static_cast<int64_t>(foldOfGroup.size()) < folds) {
    return "--folds " + std::to_string(folds) + " is more than the " +
           std::to_string(foldOfGroup.size()) + " groups that " + option + " finds";
  }
  // A Fisher-Yates shuffle of the sorted group names.
  std::vector<std::string> order;
  for (const auto& entry : foldOfGroup) {
    order.push_back(entry.first);
  }
  SplitMix64 random(seed);
  for (std::size_t i = order.size(); i > 1; --i) {
    std::swap(order[i - 1], order[random.below(i)]);
  }
  plan.groupsOf.assign(static_cast<std::size_t>(folds), {});
  for (std::size_t i = 0; i < order.size(); ++i) {
    const int fold = static_cast<int>(i % static_cast<std::size_t>(folds));
    foldOfGroup[order[i]] = fold;
    plan.groupsOf[static_cast<std::size_t>(fold)].push_back(order[i]);
  }
  for (auto& groups : plan.groupsOf) {
    std::sort(groups.begin(), groups.end());
  }
  for (const std::string& group : plan.groupOf) {
    plan.foldOf.push_back(foldOfGroup[group]);
  }
  return {};
}

std::string foldKeyText(const velmora::evaluation::GroupKey& key) {
  const std::string quoted = "'" + key.text + "'";
  return key.kind == velmora::evaluation::GroupKey::Kind::Column ? "column " + quoted : quoted;
}

}  // namespace tune
