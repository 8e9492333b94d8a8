/// @file
/// Everything a host includes to use the identification module: the runtime's strings, variants,
/// interfaces and threads, the lookup control's interfaces, and the module's own interfaces.
#pragma once

#include "control/lookup_control.h"
#include "pelk/catalog_control.h"
#include "pelk/file_info_interfaces.h"
#include "pelk/fingerprint_interfaces.h"
#include "pelk/manager_interfaces.h"
#include "pelk/module_exports.h"
#include "runtime/bstr.h"
#include "runtime/com_create.h"
#include "runtime/com_ptr.h"
#include "runtime/connection_point.h"
#include "runtime/error_info.h"
#include "runtime/message_queue.h"
