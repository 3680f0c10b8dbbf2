#pragma once
// Work started ahead of need on a thread of its own, which nobody joins:
// whoever needs its result waits for the future instead.
#include <functional>
#include <future>
#include <memory>
#include <thread>

#include "common/FailureLog.h"

// Runs work on a new detached thread. The future is ready once it has run
// (what it throws is logged); it is invalid when no thread could be had, and
// then nothing ran. The work must not touch anything the process destroys
// before it ends.
inline std::shared_future<void> RunAhead(std::function<void()> work) {
  auto done = std::make_shared<std::promise<void>>();
  std::shared_future<void> finished = done->get_future().share();
  try {
    std::thread([work = std::move(work), done] {
      try {
        work();
      } catch (...) {
        MIRAVELL_LOG_CAUGHT_EXCEPTION();
      }
      done->set_value();
    }).detach();
  } catch (...) {
    MIRAVELL_LOG_CAUGHT_EXCEPTION();
    return {};
  }
  return finished;
}
