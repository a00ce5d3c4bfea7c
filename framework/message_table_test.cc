#include "framework/message_table.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace qzr {
namespace {

TEST(MessageTable, BuiltInTableDecodesToAll52EntriesInStoredOrder) {
  std::vector<MessageTableEntry> entries;
  ASSERT_TRUE(DecodeMessageTable(BuiltInMessageTable(), &entries));
  ASSERT_EQ(entries.size(), kBuiltInMessageCount);

  const std::vector<int> stored = {30, 29, 12, 27, 19, 20, 18, 16, 34, 33, 4,  7,  8,
                                   37, 36, 23, 41, 14, 10, 15, 35, 21, 39, 40, 6,  26,
                                   28, 13, 11, 38, 24, 1,  43, 3,  31, 5,  17, 25, 2,
                                   42, 44, 45, 46, 47, 49, 22, 51, 50, 48, 52, 53, 9};
  std::set<int> ids;
  for (size_t i = 0; i < entries.size(); ++i) {
    EXPECT_EQ(entries[i].id, stored[i]) << "position " << i;
    ids.insert(entries[i].id);
    EXPECT_FALSE(entries[i].title.empty());
    EXPECT_FALSE(entries[i].message.empty());
  }
  // 1 to 53 without 32.
  EXPECT_EQ(ids.size(), 52u);
  EXPECT_EQ(*ids.begin(), 1);
  EXPECT_EQ(*ids.rbegin(), 53);
  EXPECT_EQ(ids.count(32), 0u);
}

TEST(MessageTable, BuiltInTextsAndSeverities) {
  std::vector<MessageTableEntry> entries;
  ASSERT_TRUE(DecodeMessageTable(BuiltInMessageTable(), &entries));
  auto find = [&](int id) {
    for (const MessageTableEntry& e : entries) {
      if (e.id == id) return e;
    }
    ADD_FAILURE() << "no entry " << id;
    return MessageTableEntry{};
  };
  struct Case {
    int id;
    int severity;
    std::string_view title;
    std::string_view message;
  } cases[] = {
      {1, 5, "Record Retrieval Error",
       "Error: (%ErrorText) attempting to access a record from the %File file.  Returning to "
       "previous window."},
      {3, 1, "Record Added",
       "This record has been added to the file. Do you want to add another record?"},
      {12, 3, "File Creation Error", "Error: (%ErrorText) creating %File."},
      {35, 1, "Auto Increment Error",
       "Attempts to automatically number this record have failed.|File: %File|Key: %Key|Error: "
       "%ErrorText.|Try Again?"},
      {42, 2, "File Usage Error", "Attempt to use file (%File) before it was opened"},
      {45, 5, "SMTP Error", "The following SMTP Error occurred: %Message "},
      {46, 5, "NNTP Error", "%Message "},
      {47, 5, "Winsock Error", "%Message "},
      {52, 5, "Report Writer Error",
       "Poorly Formed Comment String \"%Message\" at Position %Field."},
      {53, 5, "Report Writer Error", "Unknown Property %Message."},
  };
  for (const Case& c : cases) {
    MessageTableEntry e = find(c.id);
    EXPECT_EQ(e.severity, c.severity) << c.id;
    EXPECT_EQ(e.title, c.title) << c.id;
    EXPECT_EQ(e.message, c.message) << c.id;
  }
}

TEST(MessageTable, GoldenBytesOfTheFirstEntry) {
  std::span<const uint8_t> table = BuiltInMessageTable();
  const std::string_view title = "Invalid Key";
  const std::string_view message = "%File key file is invalid. Key must be rebuilt.";
  std::vector<uint8_t> expected = {52, 0, 30, 0, 5, static_cast<uint8_t>(title.size())};
  expected.insert(expected.end(), title.begin(), title.end());
  expected.push_back(static_cast<uint8_t>(message.size()));
  expected.insert(expected.end(), message.begin(), message.end());
  // Then the second entry: number 29, severity 3.
  expected.insert(expected.end(), {29, 0, 3});
  ASSERT_GE(table.size(), expected.size());
  EXPECT_EQ(std::vector<uint8_t>(table.begin(), table.begin() + expected.size()), expected);
}

TEST(MessageTable, EncodeThenDecodeRoundTrips) {
  const std::string long_text(255, 'x');
  std::vector<MessageTableEntry> in = {
      {100, 5, "Title", "Message %Field"},
      {65535, 0, "", ""},
      {7, 200, long_text, long_text},
  };
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(EncodeMessageTable(in, &bytes));
  std::vector<MessageTableEntry> out;
  ASSERT_TRUE(DecodeMessageTable(bytes, &out));
  ASSERT_EQ(out.size(), in.size());
  for (size_t i = 0; i < in.size(); ++i) {
    EXPECT_EQ(out[i].id, in[i].id);
    EXPECT_EQ(out[i].severity, in[i].severity);
    EXPECT_EQ(out[i].title, in[i].title);
    EXPECT_EQ(out[i].message, in[i].message);
  }
}

TEST(MessageTable, EncodeRefusesTextsTheFormatCannotHold) {
  const std::string too_long(256, 'x');
  std::vector<uint8_t> bytes = {1, 2, 3};
  std::vector<MessageTableEntry> title = {{1, 5, too_long, "m"}};
  std::vector<MessageTableEntry> message = {{1, 5, "t", too_long}};
  EXPECT_FALSE(EncodeMessageTable(title, &bytes));
  EXPECT_TRUE(bytes.empty());
  EXPECT_FALSE(EncodeMessageTable(message, &bytes));
}

TEST(MessageTable, DecodeRefusesEveryTruncationAndTrailingBytes) {
  std::span<const uint8_t> table = BuiltInMessageTable();
  std::vector<MessageTableEntry> entries;
  for (size_t len = 0; len < table.size(); ++len) {
    entries.push_back({});
    EXPECT_FALSE(DecodeMessageTable(table.first(len), &entries)) << len;
    EXPECT_TRUE(entries.empty());
  }
  std::vector<uint8_t> longer(table.begin(), table.end());
  longer.push_back(0);
  EXPECT_FALSE(DecodeMessageTable(longer, &entries));
  // An empty table is well formed.
  const std::vector<uint8_t> empty = {0, 0};
  EXPECT_TRUE(DecodeMessageTable(empty, &entries));
  EXPECT_TRUE(entries.empty());
}

}  // namespace
}  // namespace qzr
