// The simulated USB device access library: every entry forwards to the shared model.
#include "sim_api.h"
#include "torvanix/devlib.h"

namespace backend = torvanix::sim;
#include "torvanix/usb_entries.inc"

extern "C" {

int dcWatchDevices(tvx_device_notice_fn notice, void *context) {
    return backend::usbWatchDevices(notice, context);
}

} // extern "C"
