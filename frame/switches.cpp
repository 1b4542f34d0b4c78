#include "frame/switches.h"
#include "platform/text.h"

namespace lum {

namespace {

std::string upper(std::string_view s) { return ascii_upper(s); }

// Takes one //-switch; false when it is not one of the frame's.
bool take_switch(std::string_view arg, Switches& s) {
  std::string_view body = arg.substr(2);
  std::string name = upper(body.substr(0, body.find(':')));
  if (name == "NOALERT" && body.size() == name.size()) {
    s.noalert = true;
    return true;
  }
  if (name == "HELP" && body.size() == name.size()) {
    s.help = true;
    return true;
  }
  if (name == "DRIVE" && body.size() > name.size() + 1) {
    s.drive = std::string(body.substr(name.size() + 1));
    return true;
  }
  return false;
}

}  // namespace

Switches read_switches(std::string_view env, std::span<const std::string> args) {
  Switches s;
  size_t at = 0;
  while (at < env.size()) {
    size_t start = env.find_first_not_of(" \t", at);
    if (start == std::string_view::npos) break;
    size_t end = env.find_first_of(" \t", start);
    std::string_view word = env.substr(start, end == std::string_view::npos ? end : end - start);
    at = end == std::string_view::npos ? env.size() : end;
    if (!word.starts_with("//") || !take_switch(word, s)) {
      if (s.error.empty()) s.error = "LUMCONV holds \"" + std::string(word) + "\", not a switch";
    }
  }
  for (const std::string& arg : args) {
    if (arg.starts_with("//")) {
      if (!take_switch(arg, s) && s.error.empty()) s.error = "unknown switch \"" + arg + "\"";
    } else if (arg == "--help" || arg == "-h" || arg == "-?" || arg == "/?") {
      s.help = true;
    } else if (arg == "--version") {
      s.version = true;
    } else if (arg == "--check") {
      s.check = true;
    } else if (arg == "--undo") {
      s.undo = true;
    } else if (arg == "--no-undo") {
      s.no_undo = true;
    } else if (arg == "--force") {
      s.force = true;
    } else {
      s.arguments.push_back(arg);
    }
  }
  if (s.error.empty()) {
    const int modes = (s.check ? 1 : 0) + (s.undo ? 1 : 0);
    if (modes > 1) s.error = "--check and --undo do not go together";
    if (s.force && !s.undo) s.error = "--force goes only with --undo";
    if (s.no_undo && (s.undo || s.check)) {
      s.error = std::string("--no-undo goes only with a real run, not with ") +
                (s.undo ? "--undo" : "--check");
    }
  }
  return s;
}

}  // namespace lum
