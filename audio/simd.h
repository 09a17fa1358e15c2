#pragma once

// SSE2 vector instructions where the target has them (every x86-64
// processor); code that uses them keeps a plain fallback for the rest.
#if defined(__SSE2__) || defined(_M_X64) || defined(_M_AMD64)
#include <emmintrin.h>
#define SONVIRA_HAVE_SSE2 1
#else
#define SONVIRA_HAVE_SSE2 0
#endif
