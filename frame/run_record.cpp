#include "frame/run_record.h"

#include "frame/frame_state.h"

namespace lum {

void RunRecord::begin(int place) {
  running_ = place;
  steps_[place];
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
