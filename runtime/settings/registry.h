// A file-backed stand-in for the system registry: a tree of keys under the
// root handles, each key holding named values (its default value has the
// empty name).
//
// The calls keep the return conventions of the system's registry functions:
// they return ERROR_SUCCESS (0) or one of the error codes below, and report
// sizes and types through pointers. Key names and value names are matched
// without regard to ASCII case and keep the spelling they were created with;
// a sub-key path separates its keys with "\" (a trailing "\" is ignored).
//
// Storage: the whole tree lives in one text file, "registry.txt" in the
// program's configuration folder (runtime/profile.h, ConfigDirectory). Every
// call reads the file first and rebuilds the tree when the contents differ
// from what it was built from; a call that changes the tree does so under the
// folder lock and rewrites the file atomically before it returns. So several
// processes see each other's settings, and none loses another's change, as
// with the system registry. The stand-in serves
// HKEY_LOCAL_MACHINE from the same user file: a desktop user has no
// machine-wide settings of the program.
//
// Handles: an opened key's handle names the key by its path, not by the key
// object. After the key is deleted the handle answers ERROR_KEY_DELETED;
// should a key of the same path be created again, the handle reaches it.
// Access masks and options are accepted and not enforced.
//
// Threads: every call takes one process-wide mutex; handles may be used and
// closed from any thread.
//
// File format (one line each; names and string data escape "%", "\"", "]",
// "=" and bytes below 0x20 or 0x7F as %XX):
//   QZR-REGISTRY 1
//   [HKEY_CURRENT_USER\Software\Example]        a key (written for every key)
//   @=sz:text                                   default value, REG_SZ
//   "Name"=sz:text                              REG_SZ with one final NUL
//   "Path"=expand:text                          REG_EXPAND_SZ, likewise
//   "Count"=dword:0000002a                      REG_DWORD of four bytes
//   "Raw"=hex(3):0102ff                         any other type or shape
// A file with lines that cannot be read is kept as "registry.txt.bad" before
// the first rewrite, so a damaged file loses nothing for good.

#ifndef QZR_RUNTIME_REGISTRY_H_
#define QZR_RUNTIME_REGISTRY_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qzr {

using HKEY = std::uint32_t;
using REGSAM = std::uint32_t;

// Root handles (the system's numbering; a handle stored as a LONG is negative).
inline constexpr HKEY HKEY_CLASSES_ROOT = 0x80000000u;
inline constexpr HKEY HKEY_CURRENT_USER = 0x80000001u;
inline constexpr HKEY HKEY_LOCAL_MACHINE = 0x80000002u;
inline constexpr HKEY HKEY_USERS = 0x80000003u;
inline constexpr HKEY HKEY_PERFORMANCE_DATA = 0x80000004u;
inline constexpr HKEY HKEY_CURRENT_CONFIG = 0x80000005u;
inline constexpr HKEY HKEY_DYN_DATA = 0x80000006u;

// True iff `key` is one of the seven root handles above.
bool IsRegistryRoot(HKEY key);

// Value types.
inline constexpr std::uint32_t REG_NONE = 0;
inline constexpr std::uint32_t REG_SZ = 1;
inline constexpr std::uint32_t REG_EXPAND_SZ = 2;
inline constexpr std::uint32_t REG_BINARY = 3;
inline constexpr std::uint32_t REG_DWORD = 4;
inline constexpr std::uint32_t REG_MULTI_SZ = 7;
inline constexpr std::uint32_t REG_QWORD = 11;

// Access masks (accepted, not enforced).
inline constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
inline constexpr REGSAM KEY_SET_VALUE = 0x0002;
inline constexpr REGSAM KEY_READ = 0x20019;
inline constexpr REGSAM KEY_WRITE = 0x20006;
inline constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;

// Dispositions reported by RegCreateKeyEx.
inline constexpr std::uint32_t REG_CREATED_NEW_KEY = 1;
inline constexpr std::uint32_t REG_OPENED_EXISTING_KEY = 2;

// Return codes, numbered as the system's.
inline constexpr long ERROR_SUCCESS = 0;
inline constexpr long ERROR_FILE_NOT_FOUND = 2;      // no such key or value
inline constexpr long ERROR_ACCESS_DENIED = 5;       // a root cannot be deleted; file not writable
inline constexpr long ERROR_INVALID_HANDLE = 6;      // not a root nor an open handle
inline constexpr long ERROR_INVALID_DATA = 13;       // RegQueryValue on a non-string default
inline constexpr long ERROR_WRITE_FAULT = 29;        // the registry file could not be written
inline constexpr long ERROR_DISK_FULL = 112;         // ... because the disk is full
inline constexpr long ERROR_INVALID_PARAMETER = 87;  // missing pointers, names too long
inline constexpr long ERROR_BAD_PATHNAME = 161;      // an empty key name inside a path
inline constexpr long ERROR_MORE_DATA = 234;         // buffer too small; the size is reported
inline constexpr long ERROR_KEY_DELETED = 1018;      // the handle's key was deleted

// Longest key name (one path element) and value name, in bytes.
inline constexpr size_t kMaxRegistryKeyName = 255;
inline constexpr size_t kMaxRegistryValueName = 16383;

// Opens the existing key `sub_key` below `key` ("" opens `key` again) and
// stores a new handle in *result (0 on failure).
long RegOpenKeyEx(HKEY key, std::string_view sub_key, std::uint32_t options, REGSAM sam,
                  HKEY* result);

// Opens `sub_key`, creating it and any missing keys on its path; stores the
// handle in *result and, when `disposition` is not null, whether the key was
// new. Nothing is created when the call fails.
long RegCreateKeyEx(HKEY key, std::string_view sub_key, std::uint32_t reserved,
                    std::uint32_t options, REGSAM sam, HKEY* result, std::uint32_t* disposition);

// Reads the value `value_name` ("" for the default value). `type` and `size`
// may be null; with `data` null the call reports only the type and size.
// REQUIRES: `size` points to the capacity of `data` when `data` is given.
// A buffer too small gives ERROR_MORE_DATA with the needed size in *size.
long RegQueryValueEx(HKEY key, std::string_view value_name, std::uint32_t* reserved,
                     std::uint32_t* type, void* data, std::uint32_t* size);

// Reads the default value of `sub_key` below `key` as a NUL-terminated string
// into `data` of capacity *size (both may be null to ask the size). A key
// whose default value is not set gives "" with ERROR_SUCCESS; a missing key
// gives ERROR_FILE_NOT_FOUND.
long RegQueryValue(HKEY key, std::string_view sub_key, char* data, std::int32_t* size);

// Stores `size` bytes of `data` as `value_name` of type `type`, replacing any
// value of that name. For REG_SZ the size should count the final NUL.
long RegSetValueEx(HKEY key, std::string_view value_name, std::uint32_t reserved,
                   std::uint32_t type, const void* data, std::uint32_t size);

// Removes the value `value_name`; ERROR_FILE_NOT_FOUND when there is none.
long RegDeleteValue(HKEY key, std::string_view value_name);

// Removes `sub_key` with all its keys and values ("" removes `key` itself,
// which must then be an opened key: roots cannot be removed).
long SHDeleteKey(HKEY key, std::string_view sub_key);

// Releases a handle. Closing a root is allowed and does nothing.
long RegCloseKey(HKEY key);

// Conveniences over the calls above for the common string and DWORD cases:
// they open `sub_key` below `root`, act, and close.
std::optional<std::string> RegGetString(HKEY root, std::string_view sub_key,
                                        std::string_view value_name);
std::optional<std::uint32_t> RegGetDword(HKEY root, std::string_view sub_key,
                                         std::string_view value_name);
long RegPutString(HKEY root, std::string_view sub_key, std::string_view value_name,
                  std::string_view value);
long RegPutDword(HKEY root, std::string_view sub_key, std::string_view value_name,
                 std::uint32_t value);

// The number of handles currently open (tests check that callers close them).
size_t OpenRegistryHandleCount();

// Calls made to the registry (every Reg* function above and SHDeleteKey)
// since the process began, for measurements.
uint64_t RegistryCallCount();

}  // namespace qzr

#endif  // QZR_RUNTIME_REGISTRY_H_
