/*
 * The whole of the host's API in one include, for tests that run a plug-in
 * in-process.  Each header it includes declares one thing; the host's own
 * code includes those it uses.
 */
#ifndef MOLV_API_HOST_H
#define MOLV_API_HOST_H

#include "api/display.h"
#include "api/host_memory.h"
#include "api/model.h"
#include "api/plugin_loader.h"
#include "api/run_outcome.h"
#include "api/tcl_bridge.h"
#include "api/test_hooks.h"

#endif  // MOLV_API_HOST_H
