#pragma once
// Which hosts and addresses belong to the service itself. The program's
// secrets, the device identity and the download it sends a student to are
// only ever aimed at these; everything a link or an answer names is checked
// here first.
#include <string>
#include <string_view>

// True when the host is one of the service's domains or a subdomain of one
// (whole labels, any case, one trailing dot ignored).
[[nodiscard]] bool IsServiceHost(std::wstring_view host);

// True when the address is "https://" with a plain host name (no user part,
// no percent escapes) that IsServiceHost accepts, optionally a port, and
// nothing in the whole address a shell or browser could read differently:
// no blanks, controls, quotes, backslashes or non-ASCII characters.
[[nodiscard]] bool IsServiceAddress(std::wstring_view address);

// The lower-case host of an address that is "https://" followed by a plain
// host name (no user part, no escapes, no literal) and optionally a port,
// with no control character or backslash anywhere; empty for anything else.
[[nodiscard]] std::wstring PlainHttpsHost(std::wstring_view address);

// True when a link may name the address as its content directly: a plain
// https address on a service host or on a host of the built-in allow-list
// (whole labels). The link key ships with every copy, so this is all that
// keeps a made-up link from opening any site in the elevated player.
[[nodiscard]] bool IsAllowedDirectContent(std::wstring_view address);
