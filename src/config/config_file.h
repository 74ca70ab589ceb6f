// Reading zelm.cfg into the settings.
#pragma once

#include <string>

/// Builds settings.logPath beside the executable, then reads zelm.cfg from
/// there into `settings`. Returns 1 when the file was opened and read, 0 when
/// it cannot be opened (only logPath is then set).
int readConfig();

/// Applies the configuration file at `path` as readConfig does; the unit
/// under readConfig, open for tests. Returns 1 when read, 0 when not opened.
int readConfigFile(const std::string& path);
