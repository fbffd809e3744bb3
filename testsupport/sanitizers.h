// Whether the test program is built with a sanitizer that brings its own
// allocator and reserves address space by the terabyte (AddressSanitizer,
// ThreadSanitizer): tests that replace operator new or limit the address
// space then cannot mean what they say.
#pragma once

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define ZUQ_ALLOCATOR_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define ZUQ_ALLOCATOR_SANITIZED 1
#endif
#endif
