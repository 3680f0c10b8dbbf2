#pragma once
// Which part of a host name anyone may register names under ("com.sa",
// "ac.uk", "github.io"), from the public suffix list compiled into the
// program when it is built.
#include <string>
#include <string_view>

// The registrable domain of a lower-case host name: its public suffix and the
// one label before it ("school.com.sa" for "portal.school.com.sa"). Where the
// list has no rule for the name, its last label is the suffix. Empty when the
// host is itself a public suffix (or empty).
std::wstring RegistrableDomain(std::wstring_view host);
