#include "addons/link_wright.h"

#include <cerrno>
#include <sstream>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "runtime/core/command_line.h"
#include "runtime/os/launch.h"
#include "ui/headless_backend.h"
#include "ui/message.h"
#include "ui/window_backend.h"

namespace qzr {
namespace {

// A fake launcher: records every start, answers xdg-mime with a desktop
// file name and xdg-open with `open_error`.
class LinkWrightTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetProgramArguments({});
    SetLaunchHook([this](const std::vector<std::string>& argv, std::string* output) {
      starts_.push_back(argv);
      if (argv[0] == "xdg-mime") {
        *output =
            argv[3] == "x-scheme-handler/http" ? "firefox.desktop\n" : "thunderbird.desktop\n";
        return 0;
      }
      return open_error_;
    });
  }
  void TearDown() override {
    SetLaunchHook({});
    SetProgramArguments({});
  }

  // The addresses handed to xdg-open, in order.
  std::vector<std::string> Opened() const {
    std::vector<std::string> urls;
    for (const auto& argv : starts_) {
      if (argv[0] != "xdg-open") continue;
      EXPECT_EQ(argv.size(), 2u);
      urls.push_back(argv.back());
    }
    return urls;
  }

  HeadlessBackend ui_;
  ScopedBackend scoped_{&ui_};
  std::vector<std::vector<std::string>> starts_;
  int open_error_ = 0;
};

TEST_F(LinkWrightTest, AcceptedValuesReachXdgOpenAsOneArgument) {
  struct Case {
    const char* value;
    bool encode;
    const char* url;
  };
  const Case cases[] = {
      {"www.example.org", false, "http://www.example.org"},
      {"http://example.org/a", false, "http://example.org/a"},
      {"https://example.org/t?id=5", false, "https://example.org/t?id=5"},
      {"HTTPS://Example.org/Path", false, "https://Example.org/Path"},
      {"  https://example.org/x \t", false, "https://example.org/x"},
      {"www.example.org:8080/forum", false, "http://www.example.org:8080/forum"},
      {"localhost:3000", false, "http://localhost:3000"},
      {"https://x/@user", false, "https://x/@user"},
      {"www.x.org/@user", false, "http://www.x.org/@user"},
      {"example.org/a b;$(reboot)", false, "http://example.org/a b;$(reboot)"},
      {"https://b\xC3\xBC"
       "cher.example/\xE2\x82\xAC",
       false,
       "https://b\xC3\xBC"
       "cher.example/\xE2\x82\xAC"},
      {"user@example.com", false, "mailto:user@example.com"},
      {"MAILTO:user@example.com", false, "mailto:user@example.com"},
      {"<a href=\"https://example.org/t?id=1\">Thread</a>", false, "https://example.org/t?id=1"},
      {"<A HREF=http://example.org/t>Thread</a>", false, "http://example.org/t"},
      {"See <a href=\"www.x.org\" target=\"_blank\">here</a>", false, "http://www.x.org"},
      {"<a href=\"me@example.com\">mail me</a>", false, "mailto:me@example.com"},
      // Mail addresses, encoded after "&body=".
      {"mailto:a@b.com?subject=Hi&body=Hello World; bye", true,
       "mailto:a@b.com?subject=Hi&body=Hello%20World%3B%20bye"},
      {"a@b.com?subject=Hi there&body=x y", true, "mailto:a@b.com?subject=Hi there&body=x%20y"},
      {"mailto:a@b.com?subject=x&body=50%25 off %zz <b>", true,
       "mailto:a@b.com?subject=x&body=50%25%20off%20%25zz%20%3Cb%3E"},
      {"mailto:a@b.com?subject=s&body=hi&cc=c@d.com&BCC=e@f.com&x=1?y", true,
       "mailto:a@b.com?subject=s&body=hi&cc=c@d.com&BCC=e@f.com%26x=1%3Fy"},
      {"mailto:a@b.com?body=a b", false, "mailto:a@b.com?body=a b"},
      // The longest address taken.
      {nullptr, false, nullptr},
  };
  std::string longest = "http://" + std::string(kMaxLinkBytes - 7, 'a');
  for (const Case& c : cases) {
    std::string value = c.value != nullptr ? c.value : longest;
    std::string url = c.url != nullptr ? c.url : longest;
    SCOPED_TRACE(value.substr(0, 80));
    starts_.clear();
    LinkWright links;
    links.Init();
    links.ENCODEEMAILS = c.encode;
    EXPECT_EQ(links.ExtractUrl(value).empty(), false);
    EXPECT_EQ(links.Run(value), kShellStarted);
    EXPECT_EQ(Opened(), std::vector<std::string>{url});
    EXPECT_EQ(links.URLTORUN, url);
  }
  EXPECT_TRUE(ui_.Messages().empty());
  EXPECT_TRUE(ui_.Beeps().empty());
}

TEST_F(LinkWrightTest, RefusedValuesStartNothingAndSayWhy) {
  struct Case {
    std::string value;
    LinkRefusal why;
  };
  const Case cases[] = {
      {"/home/user/secret.txt", LinkRefusal::kFilePath},
      {"~/notes", LinkRefusal::kFilePath},
      {"./run.sh", LinkRefusal::kFilePath},
      {"C:\\Windows\\notepad.exe", LinkRefusal::kFilePath},
      {"docs\\readme.txt", LinkRefusal::kFilePath},
      {"file:///etc/passwd", LinkRefusal::kUnsupportedScheme},
      {"FILE:///etc/passwd", LinkRefusal::kUnsupportedScheme},
      {"javascript:alert(1)", LinkRefusal::kUnsupportedScheme},
      {"skype:someone?call", LinkRefusal::kUnsupportedScheme},
      {"<a href=\"file:///etc/passwd\">x</a>", LinkRefusal::kUnsupportedScheme},
      {"-e http://x.org", LinkRefusal::kLeadingDash},
      {"--help", LinkRefusal::kLeadingDash},
      {"<a href=\"--manual\">x</a>", LinkRefusal::kLeadingDash},
      {"http://x.org/\nrm", LinkRefusal::kControlCharacter},
      {"http://x.org/\x7f", LinkRefusal::kControlCharacter},
      {"http://x.org/\xC2\x85", LinkRefusal::kControlCharacter},
      {std::string("http://x.org/\0a", 15), LinkRefusal::kControlCharacter},
      {"http://x.org/\xff\xfe", LinkRefusal::kInvalidText},
      {"http://x.org/\xC3", LinkRefusal::kInvalidText},
      {"http://x.org/\xED\xA0\x80", LinkRefusal::kInvalidText},  // a surrogate
      {"http://" + std::string(kMaxLinkBytes - 6, 'a'), LinkRefusal::kTooLong},
      {std::string(kMaxLinkBytes, 'a'), LinkRefusal::kTooLong},  // too long once prefixed
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value.substr(0, 80));
    starts_.clear();
    ui_.Clear();
    LinkWright links;
    links.Init();
    EXPECT_EQ(PrepareLink(c.value).refusal, c.why);
    EXPECT_EQ(links.ExtractUrl(c.value), "");
    EXPECT_EQ(links.Run(c.value), kLinkNotOpened);
    EXPECT_TRUE(starts_.empty());
    auto shown = ui_.Messages();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].request.caption, kLinkNotOpenedCaption);
    EXPECT_EQ(shown[0].request.text.rfind(std::string(LinkRefusalText(c.why)) + "|Link: ", 0), 0u)
        << shown[0].request.text;
    // The message never carries the raw control or invalid bytes.
    for (char ch : shown[0].request.text) {
      EXPECT_FALSE(static_cast<unsigned char>(ch) < 0x20 || ch == 0x7f);
    }
    EXPECT_TRUE(ui_.Beeps().empty());
  }
}

TEST_F(LinkWrightTest, BlankValueOnlyBeeps) {
  for (std::string value : {"", "   ", " \t\r\n", "<a href=\"\">x</a>"}) {
    SCOPED_TRACE(value);
    ui_.Clear();
    LinkWright links;
    links.Init();
    EXPECT_EQ(links.Run(value), kLinkNotOpened);
    EXPECT_TRUE(starts_.empty());
    EXPECT_TRUE(ui_.Messages().empty());
    EXPECT_EQ(ui_.Beeps(), std::vector<int>{kBeepStandard});
  }
}

TEST_F(LinkWrightTest, MakeEmailUrlSafeTable) {
  struct Case {
    const char* in;
    const char* out;
  };
  const Case cases[] = {
      {"mailto:a@b.com?body=a b", "mailto:a@b.com?body=a%20b"},  // no "&body=": from the start
      {"mailto:a@b.com?subject=a b&body=c d", "mailto:a@b.com?subject=a b&body=c%20d"},
      {"mailto:a@b.com?subject=x&BODY=semi;colon", "mailto:a@b.com?subject=x&BODY=semi%3Bcolon"},
      {"x&body=%41%4g%", "x&body=%41%254g%25"},
      {"x&body=\t<>", "x&body=%09%3C%3E"},
      {"x&body=a&Subject=b&cc=c&bcc=d&to=e", "x&body=a&Subject=b&cc=c&bcc=d%26to=e"},
      {"x&body=?cc=1?x", "x&body=?cc=1%3Fx"},
      {"x&body=caf\xC3\xA9", "x&body=caf\xC3\xA9"},
      {"\"mailto:a@b.com\"", "mailto:a@b.com"},
      {"", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MakeEmailUrlSafe(c.in), c.out) << c.in;
  }
  LinkWright links;
  links.URLTORUN = "mailto:a@b.com?subject=x&body=a b";
  links.MakeEmailUrlSafe();
  EXPECT_EQ(links.URLTORUN, "mailto:a@b.com?subject=x&body=a%20b");
}

TEST_F(LinkWrightTest, StartFailuresShowTheirTextAndFile) {
  struct Case {
    int error;
    int result;
    std::string text;
  };
  const Case cases[] = {
      {ENOENT, 2,
       "The specified file was not found. File:|xdg-open|Links are opened with xdg-open, which "
       "was not found.|Install the xdg-utils package to open links."},
      {ENOEXEC, 11,
       "The .exe file is invalid (non-Win32\xC2\xAE .exe or error in .exe image). File:|xdg-open"},
      {EACCES, 5, "The operating system denied access to the specified file. File:|xdg-open"},
      {ENOMEM, 8, "There was not enough memory to complete the operation. File:|xdg-open"},
      {EIO, 1, "Unknown ShellExecute Error occured. File:|xdg-open"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.error);
    ui_.Clear();
    open_error_ = c.error;
    LinkWright links;
    links.Init();
    EXPECT_EQ(links.Run("www.example.org"), c.result);
    auto shown = ui_.Messages();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].request.caption, "Shell Execute Error:");
    EXPECT_EQ(shown[0].request.text, c.text);
    EXPECT_EQ(shown[0].request.buttons, kButtonOk);
  }
}

TEST_F(LinkWrightTest, ReportShellErrorTexts) {
  LinkWright links;
  links.ReportShellError(2, "forum.htm");
  links.ReportShellError(11, "tool.exe");
  links.ReportShellError(33, "fine");
  links.ReportShellError(kShellStarted, "fine");
  auto shown = ui_.Messages();
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0].request.text, "The specified file was not found. File:|forum.htm");
  EXPECT_EQ(shown[1].request.text,
            "The .exe file is invalid (non-Win32\xC2\xAE .exe or error in .exe image). "
            "File:|tool.exe");
  EXPECT_EQ(ShellErrorText(31),
            "There is no application associated with the given file name extension. File:|");
  EXPECT_EQ(ShellErrorText(4), "Unknown ShellExecute Error occured. File:|");
}

TEST_F(LinkWrightTest, NothingTracedAndNothingLookedUpWithoutTheSwitch) {
  std::ostringstream trace;
  LinkWright links;
  links.SetTraceStream(&trace);
  links.Init();
  EXPECT_EQ(links.Run("www.example.org"), kShellStarted);
  EXPECT_EQ(links.Run("user@example.com"), kShellStarted);
  links.Run("file:///etc/passwd");
  EXPECT_EQ(trace.str(), "");
  // Only the two openers ran: the program names were never asked for.
  EXPECT_EQ(starts_.size(), 2u);
  EXPECT_EQ(links.HYPERBROWSER, "");
  EXPECT_EQ(links.HYPEREMAIL, "");
}

TEST_F(LinkWrightTest, TraceWithTheSwitchNamesTheProgramsLookedUpOnce) {
  SetProgramArguments({"/LWdbg"});
  std::ostringstream trace;
  LinkWright links;
  links.SetTraceStream(&trace);
  links.Init();
  EXPECT_TRUE(starts_.empty());  // Init looks nothing up
  links.ENCODEEMAILS = 1;
  links.Run("www.example.org");
  links.Run("www.example.org/2");
  links.Run("a@b.com?subject=x&body=a b");
  std::string text = trace.str();
  EXPECT_NE(text.find("/LWDebugLinkWright:Command to run: [xdg-open] [http://www.example.org]\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("/LWDebugLinkWright:Browser: firefox.desktop\n"), std::string::npos);
  EXPECT_NE(text.find("/LWDebugLinkWright:Email program: thunderbird.desktop\n"),
            std::string::npos);
  EXPECT_NE(text.find("/LWDebugLinkWright:b4 MakeEmailURLSafe self.URLToRun:\n"
                      "mailto:a@b.com?subject=x&body=a b\n"),
            std::string::npos);
  EXPECT_EQ(links.HYPERBROWSER, "firefox.desktop");
  EXPECT_EQ(links.HYPEREMAIL, "thunderbird.desktop");
  int lookups = 0;
  for (const auto& argv : starts_) lookups += argv[0] == "xdg-mime";
  EXPECT_EQ(lookups, 2);  // once each, not once per link
}

TEST_F(LinkWrightTest, ProgramNamesFallBackWhenTheDesktopHasNone) {
  SetLaunchHook([](const std::vector<std::string>&, std::string*) { return ENOENT; });
  LinkWright links;
  EXPECT_EQ(links.Browser(), kNoBrowserFound);
  EXPECT_EQ(links.EmailProgram(), kNoEmailFound);
  LinkWright named;
  named.HYPERBROWSER = "my-browser";
  EXPECT_EQ(named.Browser(), "my-browser");  // set by the application: kept
}

}  // namespace
}  // namespace qzr
