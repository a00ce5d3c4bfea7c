// Message tables: the framework's numbered error messages in their stored
// byte format, the built-in table, and the encoder and decoder of the format.
//
// A message table is a byte string (all integers little-endian):
//
//   OFFSET SIZE MEANING
//   0      2    number of entries n
//   2      ...  n entries, back to back:
//
//   entry:
//   0      2    the framework error number
//   2      1    the severity (a Severity value; any byte is kept)
//   3      1    length t of the title
//   4      t    the title (the message window's caption)
//   4+t    1    length m of the message
//   5+t    m    the message, with placeholders ("%File", ...); "|" starts a
//               new line when shown
//
// The built-in table holds the framework's 52 messages (numbers 1 to 53;
// 32 has none) in the order they have always been stored in. Lookups go by
// number, so the order has no effect on behaviour; tests pin the bytes.
//
// Constant data and pure functions; safe from any thread.

#ifndef QZR_FRAMEWORK_MESSAGE_TABLE_H_
#define QZR_FRAMEWORK_MESSAGE_TABLE_H_

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace qzr {

// One decoded entry. The texts refer into the table's bytes.
struct MessageTableEntry {
  uint16_t id = 0;
  uint8_t severity = 0;
  std::string_view title;
  std::string_view message;
};

// Entries of the built-in table.
inline constexpr size_t kBuiltInMessageCount = 52;

// Longest title or message the format can hold (one length byte).
inline constexpr size_t kMaxMessageTableText = 255;

// The built-in table's bytes, in the program image for its lifetime.
std::span<const uint8_t> BuiltInMessageTable();

// Decodes `table`. Returns false, and leaves *entries empty, when the bytes
// are not one whole table: too short for the count or for an entry, or with
// bytes left over after the last entry. The entries' texts point into
// `table`, which must outlive them.
bool DecodeMessageTable(std::span<const uint8_t> table, std::vector<MessageTableEntry>* entries);

// Encodes `entries` in the format above. Returns false, and leaves *table
// empty, when there are more than 65535 entries or a title or message is
// longer than kMaxMessageTableText bytes (the format cannot hold it; cutting
// it silently would change what the user reads).
bool EncodeMessageTable(std::span<const MessageTableEntry> entries, std::vector<uint8_t>* table);

}  // namespace qzr

#endif  // QZR_FRAMEWORK_MESSAGE_TABLE_H_
