#include "common/AppState.h"

static_assert(sizeof(WINDOWPLACEMENT) == 44, "the saved placement's length field must read 44");

AppState& GetAppState() noexcept {
  static AppState state;
  return state;
}

WindowState& GetWindowState() noexcept {
  static WindowState state;
  return state;
}
