#include "frame/run_record.h"

#include "frame/frame_state.h"

namespace lum {

void RunRecord::begin(int place, std::string name) {
  running_ = place;
  steps_[place].name = std::move(name);
}

void RunRecord::give_up(std::string what) { steps_[running_].gave_up = std::move(what); }

std::vector<std::pair<std::string, std::string>> RunRecord::given_up() const {
  std::vector<std::pair<std::string, std::string>> out;
  for (const auto& [place, step] : steps_) {
    if (!step.gave_up.empty()) out.emplace_back(step.name, step.gave_up);
  }
  return out;
}

std::string RunRecord::name(int place) const {
  auto it = steps_.find(place);
  return it == steps_.end() ? std::string() : it->second.name;
}

void RunRecord::end() {
  if (auto it = steps_.find(running_); it != steps_.end()) it->second.finished = true;
}

bool RunRecord::finished(int place) const {
  auto it = steps_.find(place);
  return it != steps_.end() && it->second.finished;
}

RunRecord::Tally& RunRecord::tally(std::string_view what) {
  std::map<std::string, Tally, std::less<>>& tallies = steps_[running_].tallies;
  auto it = tallies.find(what);
  if (it == tallies.end()) it = tallies.emplace(std::string(what), Tally{}).first;
  return it->second;
}

const RunRecord::Tally* RunRecord::find(int place, std::string_view what) const {
  auto step = steps_.find(place);
  if (step == steps_.end()) return nullptr;
  auto it = step->second.tallies.find(what);
  return it == step->second.tallies.end() ? nullptr : &it->second;
}

RunRecord& run_record() { return frame_state().run; }

}  // namespace lum
