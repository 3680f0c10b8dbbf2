#include "common/Secret.h"

#include <windows.h>

void SecureWipe(void* data, std::size_t size) noexcept {
  if (data != nullptr && size != 0) ::SecureZeroMemory(data, size);
}
