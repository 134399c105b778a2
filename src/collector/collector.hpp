// The data-collector mode: discovers BACnet devices, scans their objects and
// properties and writes a report; entered when the first command-line key is not
// one of the gateway's keys.
#pragma once

#include <string>

namespace collector {

// Runs the scenario chosen by the command line. The two paths are replaced by the
// collector's own log paths.
void runCollector(int argc, char** argv, std::string& debug_log_path, std::string& log_path);

}  // namespace collector
