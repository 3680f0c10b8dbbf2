#pragma once
// Resolving the link this start was given into the content fields of the
// application state: by the direct address it carries, or by asking the
// service what it stands for.
#include <cstdint>
#include <string>

// The link names a service domain that is not the service's own (not
// "https://" on one of its hosts): it is refused before anything is sent there.
inline constexpr char kReasonDomainNotAllowed[] = "domain_not_allowed";
// The link's content is a web address of its own that is not "https://" on a
// service host or a host of the built-in allow-list: refused before any request.
inline constexpr char kReasonContentNotAllowed[] = "content_not_allowed";

// True: the content fields are set. False: reason holds the reason code
// ("split_failed_parts_N", "decrypt_failed_empty_strings",
// "domain_not_allowed", "content_not_allowed", "server:" + the service's text,
// "api_content_data_failed", "exception_" + message, "unknown_exception"),
// and the content fields are not to be used.
bool ParseSchemeArgs(const std::wstring& link, std::string& reason);

// The service's script for a video-platform lesson, wrapped by the player
// later; empty when it cannot be fetched.
std::wstring FetchInjectedScript(std::int32_t contentNumber);
