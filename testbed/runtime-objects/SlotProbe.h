#pragma once
// The vtable slot a method of the program's interface declarations occupies,
// found by calling it on a fake object whose every vtable entry answers with
// its own index. The test bed lays its runtimes' vtables out with it, and
// the test that holds the declarations against the engine's ABI numbers
// reads them with it.
//
// x64 has one calling convention and the caller cleans up, so an entry may
// ignore whatever arguments the call passes it.
#include <windows.h>

#include <array>
#include <utility>

namespace slot_probe {

// More entries than the longest interface chain declared has slots.
inline constexpr int kEntries = 130;

template <int Slot>
HRESULT STDMETHODCALLTYPE AnswerSlot() {
  return Slot;
}

using Entry = HRESULT(STDMETHODCALLTYPE*)();

template <int... Slots>
constexpr std::array<Entry, sizeof...(Slots)> MakeVtable(std::integer_sequence<int, Slots...>) {
  return {&AnswerSlot<Slots>...};
}

inline constexpr std::array<Entry, kEntries> kVtable = MakeVtable(std::make_integer_sequence<int, kEntries>{});

struct FakeObject {
  const Entry* vtable = kVtable.data();
};
inline FakeObject fake;

// Read through a volatile so the optimiser cannot follow the fake object into
// the call and reason about the declared interface's layout.
inline void* volatile fakeAddress = &fake;

}  // namespace slot_probe

// The slot of method in the vtable of Interface and of every interface
// derived from it, e.g. SlotOf(&ICoreWebView2::Navigate) is 5.
template <class Interface, class... Params>
int SlotOf(HRESULT (STDMETHODCALLTYPE Interface::*method)(Params...)) {
  auto* object = static_cast<Interface*>(slot_probe::fakeAddress);
  return static_cast<int>((object->*method)(Params{}...));
}
