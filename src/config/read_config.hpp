// read_config: reads the JSON configuration file into Settings, settles the cache and log
// file names and rebuilds the cache database from the file.
#pragma once

#include <string>

#include "cache/database.hpp"
#include "config/paths.hpp"
#include "config/settings.hpp"

// True when the configuration is not usable yet and is to be read again later; false when
// the caller may go on (also after a file that cannot be opened or is not valid JSON).
// Every message goes to a console-only logger "config" registered here.
bool read_config(Settings& settings, const std::string& config_path, std::string& db_path,
                 std::string& log_path, DatabaseBacnet& database,
                 const FileNames& names = FileNames{});
