#pragma once
// The test programs' options, "--name value" and "--name", read by a table
// that says where each one goes.
#include <algorithm>
#include <functional>
#include <initializer_list>
#include <string>

struct Flag {
  const wchar_t* name;
  std::function<void(const wchar_t*)> take;  // the value's; empty for a switch
  bool* on = nullptr;
};
// Place: a std::wstring or a std::optional<std::wstring>.
template <class Place>
Flag ValueFlag(const wchar_t* name, Place& place) {
  return {name, [&place](const wchar_t* value) { place = value; }};
}
inline Flag SwitchFlag(const wchar_t* name, bool& on) { return {name, {}, &on}; }

// False for an unknown option or a value missing.
inline bool ReadFlags(int argc, wchar_t** argv, int first, std::initializer_list<Flag> flags) {
  for (int i = first; i < argc; ++i) {
    const auto* flag =
        std::ranges::find_if(flags, [name = std::wstring(argv[i])](const Flag& f) { return name == f.name; });
    if (flag == flags.end() || (flag->take && i + 1 >= argc)) return false;
    if (flag->take)
      flag->take(argv[++i]);
    else
      *flag->on = true;
  }
  return true;
}
