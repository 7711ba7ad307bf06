/*
 * Ristova state decoder plug-in interface.
 *
 * A decoder plug-in is a shared library "<name>.so" (on Windows "<name>.dll")
 * in the folder "PowerDll/" beside the program. The program loads it in a
 * process of its own, ristova-decoder-host, with dlopen(RTLD_NOW |
 * RTLD_LOCAL) (LoadLibrary) and looks up the two functions below by name, so
 * both must be exported with C linkage (use RISTOVA_PLUGIN_EXPORT and
 * RISTOVA_PLUGIN_CALL). On Windows both use the __stdcall convention, which
 * 32-bit libraries may export under decorated names only ("_GetJDQState@8"
 * as MSVC names it, "GetJDQState@8" as MinGW does); the host finds those
 * too. A 32-bit library is loaded by ristova-decoder-host32, a 64-bit one
 * by ristova-decoder-host. Either may be missing: a missing
 * GetDeviceDescription gives an empty description, a missing GetJDQState means
 * answers are shown but never decoded.
 *
 * Texts: both functions return a zero-terminated text in code page 936
 * (GBK/GB18030; plain ASCII is fine), or NULL, which counts as an empty text.
 * The plug-in owns every text it returns: the program copies it at once and
 * never frees it. A returned text must stay valid until the plug-in's next
 * call (a static buffer is the usual way).
 *
 * All calls come from the host's one thread, one at a time. A call that takes
 * longer than 500 ms, or one that crashes, ends the host, and the program
 * starts it again; that answer then reads as no answer.
 */
#ifndef RISTOVA_STATE_PLUGIN_H
#define RISTOVA_STATE_PLUGIN_H

#include <stdint.h>

#ifdef __cplusplus
#define RISTOVA_PLUGIN_EXTERN_C extern "C"
#else
#define RISTOVA_PLUGIN_EXTERN_C
#endif

/* A library that names its exports in a .def file defines
 * RISTOVA_PLUGIN_EXPORT itself, before including this header. */
#ifdef _WIN32
#ifndef RISTOVA_PLUGIN_EXPORT
#define RISTOVA_PLUGIN_EXPORT RISTOVA_PLUGIN_EXTERN_C __declspec(dllexport)
#endif
#define RISTOVA_PLUGIN_CALL __stdcall
#else
#ifndef RISTOVA_PLUGIN_EXPORT
#define RISTOVA_PLUGIN_EXPORT RISTOVA_PLUGIN_EXTERN_C __attribute__((visibility("default")))
#endif
#define RISTOVA_PLUGIN_CALL
#endif

/* Names the program looks up. */
#define RISTOVA_DEVICE_DESCRIPTION_SYMBOL "GetDeviceDescription"
#define RISTOVA_JDQ_STATE_SYMBOL "GetJDQState"

/*
 * A short text that describes the hardware the plug-in serves; the monitor
 * page shows it behind "适用硬件:".
 */
typedef const char*(RISTOVA_PLUGIN_CALL* RistovaGetDeviceDescriptionFn)(void);

/*
 * Decodes one block of bytes exactly as the serial line delivered it (1 to
 * 2048 bytes; a controller's answer may be split over several blocks, and
 * each block is passed alone).
 *
 * Result: the relay state text, character k (k = 1, 2, ...) for relay k:
 * '1' switched on, any other character off. Characters beyond the relay count
 * are ignored; a shorter text updates only the first relays. Return NULL (or
 * an empty text) when the block holds nothing to decode: the relay states then
 * keep their last value.
 */
typedef const char*(RISTOVA_PLUGIN_CALL* RistovaGetJDQStateFn)(const unsigned char* data,
                                                               int32_t count);

/* The two exports, as a plug-in defines them. */
RISTOVA_PLUGIN_EXPORT const char* RISTOVA_PLUGIN_CALL GetDeviceDescription(void);
RISTOVA_PLUGIN_EXPORT const char* RISTOVA_PLUGIN_CALL GetJDQState(const unsigned char* data,
                                                                  int32_t count);

#endif /* RISTOVA_STATE_PLUGIN_H */
