// Profile (INI) files with the Windows profile semantics.
//
// Sections and keys are matched without regard to case; lines that are not
// the entry being changed (comments, blank lines, other sections) are kept as
// they were; a missing entry gives the default; writing a null value deletes
// the key, a null key deletes the whole section. Each call reads (and, for a
// write, rewrites atomically) the file, under a process-wide lock.
//
// The "user profile" stands in for the system's own profile: a file
// "profile.ini" in the program's configuration folder
// ($XDG_CONFIG_HOME/qzrfunctions, else ~/.config/qzrfunctions; the
// QZR_CONFIG_DIR environment variable overrides it, which tests use).

#ifndef QZR_RUNTIME_PROFILE_H_
#define QZR_RUNTIME_PROFILE_H_

#include <optional>
#include <string>
#include <string_view>

namespace qzr {

// The program's configuration folder (created on first write).
std::string ConfigDirectory();

std::string GetPrivateProfileString(std::string_view section, std::string_view key,
                                    std::string_view default_value, const std::string& file);
int GetPrivateProfileInt(std::string_view section, std::string_view key, int default_value,
                         const std::string& file);
// `key` nullopt deletes the section; `value` nullopt deletes the key.
// Returns false when the file cannot be written.
bool WritePrivateProfileString(std::string_view section, std::optional<std::string_view> key,
                               std::optional<std::string_view> value, const std::string& file);

// The same over the user profile.
std::string GetProfileString(std::string_view section, std::string_view key,
                             std::string_view default_value);
int GetProfileInt(std::string_view section, std::string_view key, int default_value);
bool WriteProfileString(std::string_view section, std::optional<std::string_view> key,
                        std::optional<std::string_view> value);

}  // namespace qzr

#endif  // QZR_RUNTIME_PROFILE_H_
