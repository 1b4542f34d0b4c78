// The record of a run: what the program noted as it went, for the dry run's report and
// the account after the run. The steps of the program are the places of its plan (for
// lumconv, its conversions in run order); the frame keeps which step is running and
// whether each has started and returned, and each step keeps a few named counts with
// the first values counted, noted where the step does what it counts.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace lum {

class RunRecord {
 public:
  // A count, and the first few values counted (what a report lists of them).
  struct Tally {
    static constexpr std::size_t kKept = 5;
    std::uint64_t count = 0;
    std::vector<std::string> first;
    void add() { ++count; }
    void add(std::string_view value) {
      if (first.size() < kKept) first.emplace_back(value);
      ++count;
    }
  };

  // The step at `place` of the program's plan starts, under the name the account gives
  // it ("CVCLI (Clients)") / the running step has returned.
  void begin(int place, std::string name = {});
  void end();
  // The running step gave up before it changed anything, after an error that was
  // settled with Default: what the operator should know of it ("\lum\firma1\x keeps
  // the records it had").
  void give_up(std::string what);
  // The steps that gave up, in order: their names and what they left.
  std::vector<std::pair<std::string, std::string>> given_up() const;
  // The name of the step at `place` ("" when it never started).
  std::string name(int place) const;
  // The step that started last, -1 before any; after an error, the one it stopped.
  int running() const { return running_; }
  bool started(int place) const { return steps_.count(place) != 0; }
  bool finished(int place) const;

  // The count `what` of the running step, made at its first use. The reference stays
  // good for the life of the record, so a step can take it once and count in a loop.
  // REQUIRES: a step is running.
  Tally& tally(std::string_view what);
  // The count `what` of the step at `place`; nullptr when it was never made.
  const Tally* find(int place, std::string_view what) const;

 private:
  struct Step {
    std::string name;
    bool finished = false;
    std::string gave_up;
    std::map<std::string, Tally, std::less<>> tallies;
  };
  std::map<int, Step> steps_;
  int running_ = -1;
};

// The current run's record, which the frame keeps.
RunRecord& run_record();

}  // namespace lum
