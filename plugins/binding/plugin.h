/*
 * The entry points the host looks up by name in qel_export.so.  Nothing
 * else of the plug-in is visible outside it.
 */
#ifndef QEL_BINDING_PLUGIN_H
#define QEL_BINDING_PLUGIN_H

#include "host/molv_host.h"

#ifdef __cplusplus
extern "C" {
#endif

MO_API int MOLVPluginInit(mo_startup_record *record);
MO_API int MOLVPluginExit(void);
MO_API const char *MOLVPluginAbout(void);
MO_API const char *MOLVPluginInfo(void);

#ifdef __cplusplus
}
#endif

#endif  // QEL_BINDING_PLUGIN_H
