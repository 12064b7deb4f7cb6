// The settings file that stands in for the registry's product key:
// $XDG_CONFIG_HOME/Pemblet Software/Quindelo.conf (XDG_CONFIG_HOME defaults to
// ~/.config). INI text with one [Section] per subkey; each value is typed so
// that strings and 32-bit integers are told apart.
//
// Every call reads the file as it is now (the path is taken from the
// environment at each call, so tests can move it). Writes replace the whole
// file atomically (temporary file, then rename), so a reader never sees a
// half-written file. Section and value names compare without regard to case.
// A damaged line reads as a missing value; it is never a crash.
// All functions are thread-safe (one process-wide lock).
#pragma once

#include <cstdint>
#include <string>

namespace quindelo::platform {

// Full path of the settings file for the current environment.
std::string SettingsFilePath();

// False when the value is missing or is not of the asked type.
bool SettingsReadString(const std::string& section, const std::string& name,
                        std::string* value);
bool SettingsReadInt(const std::string& section, const std::string& name,
                     std::int32_t* value);

// False when the file could not be written; the old file is then unchanged.
bool SettingsWriteString(const std::string& section, const std::string& name,
                         const std::string& value);
bool SettingsWriteInt(const std::string& section, const std::string& name,
                      std::int32_t value);
// False when the value did not exist or the file could not be written.
bool SettingsDeleteValue(const std::string& section, const std::string& name);

}  // namespace quindelo::platform
