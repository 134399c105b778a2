#include "collector/collector.hpp"

namespace collector {

void runCollector(int /*argc*/, char** /*argv*/, std::string& /*debug_log_path*/,
                  std::string& /*log_path*/) {}

}  // namespace collector
