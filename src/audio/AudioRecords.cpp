#include "audio/AudioRecords.h"

namespace brindell {

const char* toString(DeviceTransport transport) {
    switch (transport) {
    case DeviceTransport::builtIn:
        return "builtIn";
    case DeviceTransport::usb:
        return "usb";
    case DeviceTransport::bluetooth:
        return "bluetooth";
    case DeviceTransport::hdmi:
        return "hdmi";
    case DeviceTransport::displayPort:
        return "displayPort";
    case DeviceTransport::airPlay:
        return "airPlay";
    case DeviceTransport::virtual_:
        return "virtual";
    case DeviceTransport::aggregate:
        return "aggregate";
    case DeviceTransport::other:
        return "other";
    }
    return "other";
}

} // namespace brindell
