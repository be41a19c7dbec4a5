#pragma once
// Not installed: lets tests and the demo point the kit at a local simulator.

#include <QString>
#include <optional>

namespace orvix::internal {

// Replaces the backend base URL of every mode (nothing restores the
// configured hosts). The text should end in "/".
void setBackendBaseURL(const std::optional<QString> &baseURL);

// Replace the authority's service base (no trailing "/") and portal root
// (ending in "/"); nullopt goes back to the configured hosts.
void setAuthorityServiceBaseURL(const std::optional<QString> &baseURL);
void setAuthorityPortalURL(const std::optional<QString> &portalURL);
// Replaces the resident portal base (ending in "/"); nullopt goes back to
// the configured host.
void setResidentPortalURL(const std::optional<QString> &baseURL);

} // namespace orvix::internal
