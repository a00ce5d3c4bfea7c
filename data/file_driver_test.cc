// Tests of the driver interface: operation names, registration and lookup,
// DoFileOp's error posting, and the dynamic-file service lookup.

#include "data/file_driver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

#include "data/declaration_check.h"
#include "data/dynamic_file.h"
#include "runtime/core/runtime_error.h"
#include "runtime/core/runtime_message.h"

namespace qzr {
namespace {

class MessageCapture {
 public:
  MessageCapture() {
    previous_ = SetRuntimeMessageHook([this](std::string_view caption, std::string_view text) {
      messages.push_back(std::string(caption) + "|" + std::string(text));
    });
  }
  ~MessageCapture() { SetRuntimeMessageHook(std::move(previous_)); }
  std::vector<std::string> messages;

 private:
  RuntimeMessageHook previous_;
};

// Opens, closes and adds; CREATE fails with an operating-system error;
// everything else is unsupported.
class FakeDriver : public FileDriver {
 public:
  explicit FakeDriver(std::string name) {
    info_.name = std::move(name);
    info_.display_name = "Fake (" + info_.name + ")";
    info_.capabilities.types = TypeMask({TypeCode::LONG, TypeCode::CSTRING, TypeCode::BYTE});
    info_.capabilities.memo = true;
    info_.switches = {{"FAST", SwitchType::kBool, "OFF", "ON", "ON", "OFF"}};
  }
  int Call(FileOp op, FileDescriptor& file, FileArgs& args) override {
    ops.push_back(op);
    switch (op) {
      case FileOp::SEND:
        args.value = "was " + args.driver_string;
        return 0;
      case FileOp::OPEN:
        last_options = args.driver_string;
        if (file.IsOpen()) return kFileAlreadyOpen;
        file.state = std::make_unique<DriverFileState>();
        return 0;
      case FileOp::CLOSE:
        file.state.reset();
        return 0;
      case FileOp::ADD:
        return 0;
      case FileOp::CREATE:
        PostErrno(EACCES);
        return kFileSystemError;
      default:
        return kUnsupportedFunction;
    }
  }
  const DriverInfo& Info() const override { return info_; }

  std::vector<FileOp> ops;
  std::string last_options;

 private:
  DriverInfo info_;
};

FakeDriver* Register(const std::string& name) {
  auto driver = std::make_unique<FakeDriver>(name);
  FakeDriver* raw = driver.get();
  RegisterDriver(std::move(driver));
  return raw;
}

FileDescriptor Small(const std::string& driver) {
  return FileDeclaration("SMALL", "SM")
      .Driver(driver)
      .Field("ID", TypeCode::LONG)
      .String("NAME", TypeCode::CSTRING, 20)
      .Key("K", {{"ID"}})
      .Build();
}

TEST(FileOps, NamesFollowTheOperationTable) {
  struct Case {
    FileOp op;
    const char* name;
  };
  const std::vector<Case> cases = {
      {FileOp::Unused0, "(0)"},       {FileOp::ADD, "ADD"},
      {FileOp::EOF_, "EOF"},          {FileOp::GETkeyptr, "GETkeyptr"},
      {FileOp::OPEN, "OPEN"},         {FileOp::BUILDdynfilter, "BUILDdynfilter"},
      {FileOp::SEND, "SEND"},         {FileOp::NULL_, "NULL"},
      {FileOp::QUERY_VIEW, "QUERY_VIEW"}, {FileOp::Internal87, "Internal87"},
      {FileOp::Unused101, "(101)"},   {FileOp::DESTROY, "DESTROY"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(OperationName(c.op), c.name);
    EXPECT_EQ(OperationCode(c.name), static_cast<int>(c.op));
  }
  EXPECT_EQ(OperationName(105), "(105)");
  EXPECT_EQ(OperationName(-1), "(-1)");
  EXPECT_EQ(OperationCode("add"), -1);
}

TEST(FileDriver, LooksDriversUpWithoutRegardToCase) {
  FakeDriver* d = Register("Fake1");
  DriverLookup why;
  EXPECT_EQ(FindDriver("FAKE1", &why), d);
  EXPECT_EQ(why, DriverLookup::kFound);
  EXPECT_EQ(FindDriver("fake1"), d);
  EXPECT_EQ(FindDriver("FAKE1X", &why), nullptr);
  EXPECT_EQ(why, DriverLookup::kNotDefined);
  EXPECT_EQ(FindDriver("", &why), nullptr);
  EXPECT_EQ(why, DriverLookup::kNoDriverSpecified);
  auto names = RegisteredDrivers();
  EXPECT_NE(std::find(names.begin(), names.end(), "FAKE1"), names.end());
}

TEST(FileDriver, FactoryRunsOnceOnFirstLookup) {
  int built = 0;
  RegisterDriverFactory("LAZY", [&built] {
    ++built;
    return std::make_unique<FakeDriver>("LAZY");
  });
  EXPECT_EQ(built, 0);
  FileDriver* first = FindDriver("lazy");
  FileDriver* second = FindDriver("LAZY");
  EXPECT_NE(first, nullptr);
  EXPECT_EQ(first, second);
  EXPECT_EQ(built, 1);
}

// A thread remembers the driver it found last; a driver registered again
// under that name (a test's wrapper, a driver replaced) is what the next
// operation reaches, and the replaced one stays valid for those holding it.
TEST(FileDriver, ADriverRegisteredAgainServesTheNextOperation) {
  FakeDriver* first = Register("FAKE3");
  FileDescriptor f = Small("Fake3");
  ASSERT_EQ(DoFileOp(FileOp::OPEN, f), 0);
  EXPECT_EQ(DoFileOp(FileOp::ADD, f), 0);
  EXPECT_EQ(FindDriver("Fake3"), first);
  FakeDriver* second = Register("fake3");
  EXPECT_EQ(DoFileOp(FileOp::ADD, f), 0);
  EXPECT_EQ(FindDriver("Fake3"), second);
  EXPECT_EQ(first->ops, (std::vector<FileOp>{FileOp::OPEN, FileOp::ADD}));
  EXPECT_EQ(second->ops, std::vector<FileOp>{FileOp::ADD});
  EXPECT_EQ(DoFileOp(FileOp::CLOSE, f), 0);
  // Another name in between, then back: each lookup finds its own.
  FakeDriver* other = Register("FAKE4");
  EXPECT_EQ(FindDriver("FAKE4"), other);
  EXPECT_EQ(FindDriver("Fake3"), second);
  // A factory registered under the name replaces the driver as well.
  RegisterDriverFactory("FAKE3", [] { return std::make_unique<FakeDriver>("FAKE3"); });
  FileDriver* built = FindDriver("Fake3");
  EXPECT_NE(built, nullptr);
  EXPECT_NE(built, second);
  EXPECT_EQ(first->Info().name, "FAKE3");  // still alive
}

TEST(FileDriver, DoFileOpPostsTheResult) {
  FakeDriver* d = Register("FAKE2");
  FileDescriptor f = Small("Fake2");
  EXPECT_EQ(DoFileOp(FileOp::OPEN, f), 0);
  EXPECT_EQ(ERRORCODE(), 0);
  EXPECT_TRUE(f.IsOpen());
  EXPECT_EQ(DoFileOp(FileOp::OPEN, f), 52);
  EXPECT_EQ(ERRORCODE(), 52);
  EXPECT_EQ(ERROR(), "File Already Open");
  EXPECT_EQ(DoFileOp(FileOp::ADD, f), 0);
  EXPECT_EQ(ERRORCODE(), 0);

  // An operation the driver lacks.
  FileArgs args;
  args.key = 0;
  EXPECT_EQ(DoFileOp(FileOp::GETkeyptr, f, args), 80);
  EXPECT_EQ(ERROR(), "Unsupported File Driver Function");

  // An operating-system failure keeps the driver's FILEERRORCODE.
  EXPECT_EQ(DoFileOp(FileOp::CREATE, f), 90);
  EXPECT_EQ(ERRORCODE(), 90);
  EXPECT_EQ(FILEERRORCODE(), "5");
  EXPECT_EQ(FILEERROR(), "Access Denied");

  EXPECT_EQ(DoFileOp(FileOp::CLOSE, f), 0);
  EXPECT_FALSE(f.IsOpen());
  EXPECT_EQ(d->ops.size(), 6u);
}

TEST(FileDriver, UnknownDriverGivesTheFileLevelReport) {
  MessageCapture capture;
  FileDescriptor f = Small("NOT_REGISTERED");
  EXPECT_EQ(DoFileOp(FileOp::OPEN, f), 47);
  EXPECT_EQ(ERRORCODE(), 47);
  EXPECT_EQ(capture.messages, (std::vector<std::string>{"FILE : 1 : DRIVER : S00004|File Driver not defined"}));
}

TEST(FileDriver, OpenChecksTheDeclarationAndTheDriverString) {
  MessageCapture capture;
  FakeDriver* d = Register("FAKE6");
  FileDescriptor f = Small("FAKE6");
  f.fields[1].type = TypeCode::REAL;
  f.fields[1].size = 8;
  EXPECT_EQ(DoFileOp(FileOp::OPEN, f), 47);
  EXPECT_TRUE(d->ops.empty());
  EXPECT_EQ(capture.messages, (std::vector<std::string>{"FIELD : 2 : TYPE : D00002|Data type not supported"}));

  capture.messages.clear();
  FileDescriptor g = Small("FAKE6");
  g.driver_string = "/FAST /SLOW=1";
  EXPECT_EQ(DoFileOp(FileOp::OPEN, g), 0);
  EXPECT_EQ(d->last_options, "/FAST /SLOW=1");
  EXPECT_EQ(capture.messages, (std::vector<std::string>{"Fake (FAKE6)|SLOW is not a valid switch"}));

  std::string reply;
  EXPECT_EQ(SendToDriver(g, "Recover=10", &reply), 0);
  EXPECT_EQ(reply, "was Recover=10");
  EXPECT_EQ(DoFileOp(FileOp::CLOSE, g), 0);
}

int g_change_file_calls = 0;
int CountingChangeFile(FileDescriptor& file, const FileDescriptor& declaration) {
  ++g_change_file_calls;
  return DefaultChangeFile(file, declaration);
}

TEST(DynamicFile, MissingServicesFailWithTheSystemMessage) {
  MessageCapture capture;
  ResetDynamicFileServicesForTesting();
  FileDescriptor f = Small("FAKE3");
  EXPECT_EQ(ChangeFileDriver(f, "FAKE3", ""), 47);
  EXPECT_EQ(ERRORCODE(), 47);
  EXPECT_EQ(capture.messages,
            (std::vector<std::string>{"SYSTEM : 1 : UNKNOWN : S00002|Dynamic File Support Not Found"}));
  // The lookup is done once: services exported later are not seen.
  ExportDynamicFileServices(DefaultChangeFile, DefaultChangeDriver);
  EXPECT_EQ(ChangeFileDeclaration(f, Small("FAKE3")), 47);
  ResetDynamicFileServicesForTesting();
}

TEST(DynamicFile, ExportedServicesChangeDeclarationAndDriver) {
  MessageCapture capture;
  Register("FAKE4");
  Register("FAKE5");
  ResetDynamicFileServicesForTesting();
  ExportDynamicFileServices(CountingChangeFile, DefaultChangeDriver);

  FileDescriptor f = Small("FAKE4");
  FileDescriptor wider = FileDeclaration("SMALL", "SM")
                             .Field("ID", TypeCode::LONG)
                             .String("NAME", TypeCode::CSTRING, 40)
                             .Field("FLAG", TypeCode::BYTE)
                             .Build();
  EXPECT_EQ(ChangeFileDeclaration(f, wider), 0);
  EXPECT_EQ(g_change_file_calls, 1);
  EXPECT_EQ(f.fields.size(), 3u);
  EXPECT_EQ(f.RecordLength(), 45u);
  EXPECT_EQ(f.driver, "FAKE4");  // kept: the new declaration names no driver

  // A declaration the driver cannot store is refused and leaves the file alone.
  FileDescriptor real = FileDeclaration("SMALL", "SM").Field("R", TypeCode::REAL).Build();
  EXPECT_EQ(ChangeFileDeclaration(f, real), 47);
  EXPECT_EQ(capture.messages.back(), "FIELD : 1 : TYPE : D00002|Data type not supported");
  EXPECT_EQ(f.fields.size(), 3u);

  EXPECT_EQ(ChangeFileDriver(f, "fake5", "Recover=5"), 0);
  EXPECT_EQ(f.driver, "FAKE5");
  EXPECT_EQ(f.driver_string, "Recover=5");
  EXPECT_EQ(ChangeFileDriver(f, "NOPE", ""), 47);
  EXPECT_EQ(f.driver, "FAKE5");

  // An open file keeps its declaration.
  ASSERT_EQ(DoFileOp(FileOp::OPEN, f), 0);
  EXPECT_EQ(ChangeFileDeclaration(f, wider), 52);
  EXPECT_EQ(DoFileOp(FileOp::CLOSE, f), 0);
  ResetDynamicFileServicesForTesting();
}

}  // namespace
}  // namespace qzr
