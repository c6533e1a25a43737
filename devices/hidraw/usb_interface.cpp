// The hidraw USB device access library: every entry forwards to the shared core.
#include "hid_api.h"
#include "torvanix/devlib.h"

namespace backend = torvanix::hidraw;
#include "torvanix/usb_entries.inc"
