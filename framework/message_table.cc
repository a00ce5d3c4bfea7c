// The built-in message table, encoded into its byte format at compile time,
// and the table encoder and decoder.

#include "framework/message_table.h"

#include <array>

namespace qzr {
namespace {

struct Source {
  uint16_t id;
  uint8_t severity;
  std::string_view title;
  std::string_view message;
};

// In stored order. Severities: 1 question, 2 internal, 3 halt, 5 inform.
constexpr Source kBuiltIn[] = {
    {30, 5, "Invalid Key", "%File key file is invalid. Key must be rebuilt."},
    {29, 3, "Key was not built", "Error: (%ErrorText) repairing key for %File."},
    {12, 3, "File Creation Error", "Error: (%ErrorText) creating %File."},
    {27, 5, "Procedure not defined", "The Procedure %Message has not been defined."},
    {19, 5, "Range Error", "The value of %Field must be lower than %Message."},
    {20, 5, "Range Error", "The value of %Field must be higher than %Message."},
    {18, 5, "Range Error", "The value of %Field must be in range %Message."},
    {16, 5, "Field contents error", "The value of %Field must be found in the %Message file."},
    {34, 5, "Referential Integrity Update Error",
     "This record is referenced from the file %File. Linking field(s) have been restricted from "
     "change and have been reset to original values."},
    {33, 5, "Referential Integrity Delete Error",
     "This record is referenced from the file %File. This record cannot be deleted while these "
     "references exist."},
    {4, 5, "Record Insert Error",
     "An error was experienced during the creation of a record.|File: %File|Error: %ErrorText."},
    {7, 5, "Record Was Not Updated", "This record was changed by another station."},
    {8, 5, "Record Was Not Updated",
     "This record was changed by another station. Those changes will now be displayed. Use the "
     "Ditto Button or Ctrl+H to recall your changes."},
    {37, 1, "Record Update Error",
     "An error was experienced changing this record. Do you want to try to save again?"},
    {36, 1, "Record Delete Error",
     "An error was experienced deleting this record. Do you want to try to delete it again?"},
    {23, 5, "Invalid Request", "This form cannot be used to insert a record"},
    {41, 5, "Invalid Request", "This form cannot be used to update a record"},
    {14, 5, "Invalid Request", "This form cannot be used to delete a record"},
    {10, 1, "Changes will be lost!", "Are you sure you want to cancel?"},
    {15, 5, "Duplicate Key Error",
     "Adding this record creates a duplicate entry for the key: %Message"},
    {35, 1, "Auto Increment Error",
     "Attempts to automatically number this record have failed.|File: %File|Key: %Key|Error: "
     "%ErrorText.|Try Again?"},
    {21, 5, "File Load Error", "%File File Load Error.  Error: %ErrorText."},
    {39, 1, "Beginning of File Error",
     "The beginning of the file %File was encountered. Do you want to start again from the end "
     "of the file?"},
    {40, 1, "End of File Error",
     "The end of the file %File was encountered. Do you want to start again from the beginning?"},
    {6, 5, "File Access Error", "File %File could not be closed.  Error: %ErrorText."},
    {26, 3, "File Access Error", "File %File could not be opened.  Error: %ErrorText."},
    {28, 5, "Record was not updated",
     "An error (%ErrorText) was experienced when making changes to the %File file."},
    {13, 5, "Record was not deleted",
     "An error (%ErrorText) was experienced when deleting a record from the %File file."},
    {11, 1, "Confirm Delete", "Are you sure you want to delete the highlighted record?"},
    {38, 1, "Save Record", "Do you want to save the changes to this record?"},
    {24, 5, "Transaction cancelled",
     "Error: (%ErrorText) attempting to frame the transaction on %File."},
    {1, 5, "Record Retrieval Error",
     "Error: (%ErrorText) attempting to access a record from the %File file.  Returning to "
     "previous window."},
    {43, 5, "View Open Error",
     "Error: (%ErrorText) attempting to open the current VIEW. Filter and Range Limits ignored."},
    {3, 1, "Record Added",
     "This record has been added to the file. Do you want to add another record?"},
    {31, 5, "Record not read",
     "A record held by another station was encountered reading from the %File file."},
    {5, 5, "Add New Record?", "Record match not found, do you wish to add a new one?"},
    {17, 5, "Value Error", "The value of %Field must be in the list : %Message."},
    {25, 5, "No Records", "There are no records available to process."},
    {2, 5, "Access Denied", "Could not get write access to %File so trying read-only."},
    {42, 2, "File Usage Error", "Attempt to use file (%File) before it was opened"},
    {44, 5, "Unsupported QBE Column",
     "The saved QBE column, %Field is not supported. It will be dropped from the query."},
    {45, 5, "SMTP Error", "The following SMTP Error occurred: %Message "},
    {46, 5, "NNTP Error", "%Message "},
    {47, 5, "Winsock Error", "%Message "},
    {49, 3, "WMF Parser Error", "The File %File is not a valid WMF file."},
    {22, 3, "WMF Parser Error", "Get next record from file %File failed."},
    {51, 3, "WMF Parser Error", "Cannot find %Field id. Parsing %File."},
    {50, 3, "WMF Parser Error", "Invalid %Field control found. Parsing %File."},
    {48, 3, "WMF Parser Error", "Adding record to queue failed. Parsing %File."},
    {52, 5, "Report Writer Error", "Poorly Formed Comment String \"%Message\" at Position %Field."},
    {53, 5, "Report Writer Error", "Unknown Property %Message."},
    {9, 5, "Record Retrieval Error",
     "This record was changed or deleted by another station.|Error: (%ErrorText) attempting to "
     "access a record from the %File file."},
};

static_assert(std::size(kBuiltIn) == kBuiltInMessageCount);

constexpr size_t EncodedSize() {
  size_t size = 2;
  for (const Source& s : kBuiltIn) size += 2 + 1 + 1 + s.title.size() + 1 + s.message.size();
  return size;
}

constexpr bool TextsFit() {
  for (const Source& s : kBuiltIn) {
    if (s.title.size() > kMaxMessageTableText || s.message.size() > kMaxMessageTableText)
      return false;
  }
  return true;
}
static_assert(TextsFit(), "a built-in title or message does not fit its length byte");

constexpr std::array<uint8_t, EncodedSize()> Encode() {
  std::array<uint8_t, EncodedSize()> out{};
  size_t at = 0;
  auto put16 = [&](size_t v) {
    out[at++] = static_cast<uint8_t>(v & 0xFF);
    out[at++] = static_cast<uint8_t>((v >> 8) & 0xFF);
  };
  auto put_text = [&](std::string_view text) {
    out[at++] = static_cast<uint8_t>(text.size());
    for (char c : text) out[at++] = static_cast<uint8_t>(c);
  };
  put16(std::size(kBuiltIn));
  for (const Source& s : kBuiltIn) {
    put16(s.id);
    out[at++] = s.severity;
    put_text(s.title);
    put_text(s.message);
  }
  return out;
}

// The table as it sits in the program image.
constexpr std::array<uint8_t, EncodedSize()> kBuiltInBytes = Encode();

}  // namespace

std::span<const uint8_t> BuiltInMessageTable() {
  return kBuiltInBytes;
}

bool DecodeMessageTable(std::span<const uint8_t> table, std::vector<MessageTableEntry>* entries) {
  entries->clear();
  size_t at = 0;
  auto have = [&](size_t n) { return table.size() - at >= n; };
  auto get16 = [&] {
    uint16_t v = static_cast<uint16_t>(table[at] | (table[at + 1] << 8));
    at += 2;
    return v;
  };
  // A length-prefixed text; false when the length byte or the text runs past
  // the end.
  auto get_text = [&](std::string_view* text) {
    if (!have(1)) return false;
    size_t len = table[at++];
    if (!have(len)) return false;
    *text = std::string_view(reinterpret_cast<const char*>(table.data() + at), len);
    at += len;
    return true;
  };

  if (!have(2)) return false;
  size_t count = get16();
  std::vector<MessageTableEntry> out;
  out.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    MessageTableEntry e;
    if (!have(3)) return false;
    e.id = get16();
    e.severity = table[at++];
    if (!get_text(&e.title) || !get_text(&e.message)) return false;
    out.push_back(e);
  }
  if (at != table.size()) return false;
  *entries = std::move(out);
  return true;
}

bool EncodeMessageTable(std::span<const MessageTableEntry> entries, std::vector<uint8_t>* table) {
  table->clear();
  if (entries.size() > 0xFFFF) return false;
  std::vector<uint8_t> out;
  auto put16 = [&](size_t v) {
    out.push_back(static_cast<uint8_t>(v & 0xFF));
    out.push_back(static_cast<uint8_t>((v >> 8) & 0xFF));
  };
  auto put_text = [&](std::string_view text) {
    out.push_back(static_cast<uint8_t>(text.size()));
    out.insert(out.end(), text.begin(), text.end());
  };
  put16(entries.size());
  for (const MessageTableEntry& e : entries) {
    if (e.title.size() > kMaxMessageTableText || e.message.size() > kMaxMessageTableText)
      return false;
    put16(e.id);
    out.push_back(e.severity);
    put_text(e.title);
    put_text(e.message);
  }
  *table = std::move(out);
  return true;
}

}  // namespace qzr
