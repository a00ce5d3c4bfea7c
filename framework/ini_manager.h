// IniManager: the program's persistent settings (single values by section
// and entry, whole queues, families of named items) over an INI file or the
// registry, chosen once at Init.
//
// Storage kinds (NVTYPE):
//   0  an INI file, FILENAME (runtime/profile.h decides where a bare name
//      lives; an empty name means the user profile);
//   1  the registry: section S is the key FILENAME "\" S (just S when
//      FILENAME is empty) below the root handle EXTRADATA, an entry is a
//      string value of that key;
//   2  nothing: reads give "", writes do nothing, no file is touched.
// Nothing is cached: every Fetch reads the file or the registry, so several
// programs sharing the settings see each other's changes.
//
// Queues (StoreQueue/LoadQueue): entry E holds the record count n, entries
// E_1 .. E_n one record each, its fields (up to four) joined by ",". A
// field's text is escaped so that any value survives the round trip: "%" as
// "%25", "," as "%2C", line breaks as "%0A"/"%0D", and a blank or quote at
// either end of the field as "%20"/"%22"/"%27" (the profile reader would
// strip them). Reading decodes only those six sequences, so values stored
// without escapes read back as they are unless they happen to contain one.
//
// Item families: a family, an item and a type make one section name,
// FAMILY "$" ITEM "$$" TYPE. Each part is escaped with "%XX" for "%", "$",
// "]", "\" (a registry path separator), control bytes and a blank at either
// end, so no part contains "$" and the name always splits back into its
// parts; names written without escapes still split by the rule "first $,
// then the $$ not followed by a further $". The register of stored items
// (SECTORS) is itself a queue in section "__Dont_Touch_Me__", entry
// "Sectors".
//
// Threads: every operation runs inside CRITSECT (recursive: queue
// operations fetch through Fetch), so the one manager may serve all threads.

#ifndef QZR_FRAMEWORK_INI_MANAGER_H_
#define QZR_FRAMEWORK_INI_MANAGER_H_

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "framework/severity.h"
#include "runtime/values/queue.h"

namespace qzr {

inline constexpr int32_t kIniFile = 0;
inline constexpr int32_t kIniRegistry = 1;
inline constexpr int32_t kIniNone = 2;

inline constexpr char kSectorsSection[] = "__Dont_Touch_Me__";
inline constexpr char kSectorsEntry[] = "Sectors";

// What a missing entry reads as in LoadQueue and LoadField.
inline constexpr char kUnknownValue[] = "---Unknown---";

// Longest value Fetch returns, in bytes; longer values are cut (never inside
// a UTF-8 sequence).
inline constexpr size_t kMaxIniValue = 1024;

// Fields a stored queue record holds at most.
inline constexpr size_t kMaxQueueFieldsStored = 4;

// Records LoadQueue reads at most: a damaged count cannot make it read the
// file a billion times.
inline constexpr int32_t kMaxQueueRecordsLoaded = 10000;

// An entry of SECTORS.
struct SectorEntry {
  char FAMILY[100];  // CSTRING(100)
  char ITEM[100];    // CSTRING(100)
  char TYPE[100];    // CSTRING(100)
};

// The three parts of a section name.
struct SectionNameParts {
  std::string family;
  std::string item;
  std::string type;
};

class IniManager {
 public:
  IniManager() = default;
  virtual ~IniManager();

  IniManager(const IniManager&) = delete;
  IniManager& operator=(const IniManager&) = delete;

  // Sets NVTYPE, EXTRADATA and FILENAME (cut to 259 bytes), creates SECTORS,
  // runs InitHook and loads the register. In registry mode an EXTRADATA of
  // 0 means HKEY_CURRENT_USER: settings go where a user's settings belong
  // rather than nowhere.
  virtual void Init(std::string_view file_name, int32_t nv_type = kIniFile, int32_t extra_data = 0);
  // Saves the register and releases it. The destructor calls it.
  virtual void Kill();
  // Told that the program is ending. Nothing is cached, so the base class
  // has nothing left to write.
  virtual void FinalUpdate();

  // The value of `entry` in `section`, or `default_value` when there is
  // none; "" in mode 2. At most kMaxIniValue bytes.
  std::string Fetch(std::string_view section, std::string_view entry,
                    std::string_view default_value = {});
  // Stores `value`. SeverityNone when stored (or in mode 2), SeverityInform
  // when the store refused it (an unwritable file, a section containing
  // "]" or an entry containing "=", a line break in an INI file).
  Severity Update(std::string_view section, std::string_view entry, std::string_view value);
  // Removes `entry`; an empty `entry` removes the whole section (registry:
  // the whole key). Removing what is not there succeeds.
  Severity Delete(std::string_view section, std::string_view entry);

  // Writes the records of `queue` under `section`/`entry` in the layout
  // above, the fields numbered (1-based) in `fields` (at most four; 0 or a
  // number beyond the record leaves that part empty). Entries left from a
  // longer queue stored before are removed. The queue's current entry and
  // buffer are put back as they were.
  Severity StoreQueue(QUEUE* queue, std::string_view section, std::string_view entry,
                      const std::vector<int>& fields);
  // Appends one record per stored line, setting the numbered fields from the
  // line's parts in order; the buffer's other fields keep their values. A
  // missing count reads no records.
  void LoadQueue(QUEUE* queue, std::string_view section, std::string_view entry,
                 const std::vector<int>& fields);
  // The n-th (1-based) comma-separated part of the entry's value, decoded;
  // a missing entry reads as "---Unknown---"; "" when there are fewer parts.
  std::string LoadField(std::string_view section, std::string_view entry, int n);

  static std::string MakeSectionName(std::string_view family, std::string_view item,
                                     std::string_view type);
  static SectionNameParts SplitSectionName(std::string_view name);

  // Fields.
  std::string FILENAME;
  std::unique_ptr<Queue<SectorEntry>> SECTORS;
  int32_t NVTYPE = kIniFile;
  int32_t EXTRADATA = 0;
  std::recursive_mutex CRITSECT;

 protected:
  // Runs in Init before the register is loaded; the base does nothing.
  virtual void InitHook() {}

 private:
  // Registry mode: the key path of `section` and the root handle.
  std::string RegistryPath(std::string_view section) const;
  uint32_t RegistryRoot() const;
};

// The escaping of stored queue fields (see above), for tests and for
// callers that build such lines themselves.
std::string EscapeQueueField(std::string_view text);
std::string UnescapeQueueField(std::string_view text);

}  // namespace qzr

#endif  // QZR_FRAMEWORK_INI_MANAGER_H_
