#pragma once
// The loader's settings between runs, in $XDG_CONFIG_HOME/Kestrom/kelvload.ini. The window and
// the command-line loader read the same port and bit rate.

#include "loader/kelvload_doc.h"

#include <cstdint>
#include <optional>
#include <string>

// Name of the settings file, $XDG_CONFIG_HOME/Kestrom/kelvload.ini.
inline constexpr const char* kKelvloadSettingsName = "kelvload";

// Reads m_ActiveComPort (default 1), m_BitRate (default 2, also for an index outside the
// bit-rate table) and m_SrcPath (default the user's home folder) into `doc`. Returns 1.
int LoadLoaderSettings(CKelvloadDoc& doc);
// Writes the three settings in that order and stops at the first write that fails. Returns 1
// when all three were written, else 0.
int SaveLoaderSettings(const CKelvloadDoc& doc);

// The port number and bit-rate index as kelvload stored them; each empty when it is not stored
// or is not valid.
struct StoredLoaderLink {
    std::optional<std::int32_t> comPort;
    std::optional<std::int32_t> bitRate;
};
StoredLoaderLink LoadStoredLoaderLink();

// The path used when none is stored; it never loads as a firmware file.
std::string DefaultLoaderSourcePath();
