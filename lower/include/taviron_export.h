/* What the library exports. It is built with hidden visibility: only what a public header
   declares between TAVIRON_BEGIN_DECLS and TAVIRON_END_DECLS (C linkage, default visibility)
   and the C++ classes of the interface marked TAVIRON_API are seen from outside. Every public
   header wraps its declarations so:

     #include "taviron_export.h"
     TAVIRON_BEGIN_DECLS
     int32_t efoo_Something(Efoo_Thing *thing, Eerr_ErrorReport **err);
     TAVIRON_END_DECLS

   A function declared anywhere else (an internal header, a source file) stays inside the
   library, whatever its linkage. */
#ifndef TAVIRON_EXPORT_H
#define TAVIRON_EXPORT_H

#define TAVIRON_API __attribute__((visibility("default")))

#ifdef __cplusplus
#define TAVIRON_BEGIN_DECLS extern "C" { _Pragma("GCC visibility push(default)")
#define TAVIRON_END_DECLS _Pragma("GCC visibility pop") }
#else
#define TAVIRON_BEGIN_DECLS _Pragma("GCC visibility push(default)")
#define TAVIRON_END_DECLS _Pragma("GCC visibility pop")
#endif

#endif
