// One formatter for every log format, following Windows' wide printf dialect on both builds:
//   %s     a zero-terminated WChar string (a null pointer prints "(null)")
//   %S     a zero-terminated narrow (char) string
//   %c     a WChar passed as int
//   %d %i  a 32-bit int            %ld %li  a 32-bit int (Windows' long)
//   %u %x %X %o  32-bit unsigned   %lu %lx %lX  32-bit unsigned
//   %lld %llu %llx %I64d %I64u %I64x  64-bit integers
//   %f %e %g %E %G  double         %p  a pointer        %%  a percent sign
// with the flags "-+ #0", a width and a precision (both may be "*"). The result has no length limit.
// An unknown conversion is copied to the output as written.
#pragma once

#include <cstdarg>

#include "platform/text.h"

namespace korva {

WString FormatV(const WChar* format, va_list args);
WString Format(const WChar* format, ...);

}  // namespace korva
