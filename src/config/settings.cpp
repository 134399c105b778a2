#include "config/settings.hpp"

Settings settings;

void Settings::reset() {
    invalid = true;
    is_debug = false;
    mqtt_port = 0;
    mqtt_host.clear();
    enabled = false;
    poll_interval = 0;
    timeout = 0;
    timeout_tsm = 0;
    delay = 0;
    connection_type.clear();
    bacnet_iface.clear();
}
