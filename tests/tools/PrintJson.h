#pragma once
// How the test programs answer: one JSON text per line on standard output,
// flushed at once so a reader sees it while the program still runs. Text
// that is not UTF-8 is replaced rather than ending the program.
#include <nlohmann/json.hpp>

#include <cstdio>
#include <string>

inline void PrintJson(const nlohmann::json& value) {
  const std::string text = value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}
