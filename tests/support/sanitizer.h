// Whether this build runs under AddressSanitizer: its allocator keeps freed
// memory in a quarantine of its own (up to 256 MB), which neither returns to
// the system on a trim nor can be told from growth.
#pragma once

#if defined(__SANITIZE_ADDRESS__)
#define VORTA_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VORTA_ADDRESS_SANITIZER 1
#endif
#endif

namespace vorta_test {
#ifdef VORTA_ADDRESS_SANITIZER
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif
}  // namespace vorta_test
