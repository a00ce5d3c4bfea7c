// Test support for the tests of Main: a fixture that runs the program as it
// runs (module start-up, the main procedure, Main's window through the
// scripted user) in a temporary working directory of its own, with the
// settings file ("qzrfunctions.INI") there too, over entries each test
// imports first. The derived fixture chooses the update form Main runs.
//
// Threads: one fixture per test, on the test's thread.

#ifndef QZR_APP_MAIN_TEST_SUPPORT_H_
#define QZR_APP_MAIN_TEST_SUPPORT_H_

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/app_globals.h"
#include "app/catalogue.h"
#include "app/func_file.h"
#include "app/main_browse.h"
#include "app/main_window_def.h"
#include "app/program.h"
#include "ui/headless_backend.h"

namespace qzr {

class MainWindowTest : public ::testing::Test {
 protected:
  // `form`: the update procedure Main calls for its requests.
  void SetUpMain(UpdateProcedure form) {
    char tmpl[] = "/tmp/qzr_main_XXXXXX";
    dir_ = mkdtemp(tmpl);
    old_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_);
    const char* config = std::getenv("QZR_CONFIG_DIR");
    if (config != nullptr) old_config_ = config;
    had_config_ = config != nullptr;
    setenv("QZR_CONFIG_DIR", dir_.c_str(), 1);
    ui_.SetFailureHandler([](const std::string& f) { ADD_FAILURE() << f; });
    SetMainUpdateProcedure(form);
  }
  void TearDown() override {
    if (had_config_) {
      setenv("QZR_CONFIG_DIR", old_config_.c_str(), 1);
    } else {
      unsetenv("QZR_CONFIG_DIR");
    }
    SetMainUpdateProcedure(nullptr);
    std::filesystem::current_path(old_);
    std::filesystem::remove_all(dir_);
  }

  // Runs the program with `entries` added first, then Main; the script
  // must end the window. Main's response is kept in response_.
  void RunMain(const std::vector<FuncEntry>& entries = {}) {
    RunProgram([&] {
      if (!entries.empty()) {
        Catalogue c;
        CatalogueError error;
        std::vector<int32_t> ids;
        ASSERT_TRUE(c.Import(entries, true, &ids, &error)) << error.text;
      }
      Main();
      response_ = LastResponse;
    });
  }

  // The titles of the rows the list shows.
  static std::vector<std::string> Titles(const HeadlessWindow& w) {
    std::vector<std::string> out;
    for (const auto& row : w.Rows(kMainList)) out.push_back(row[1]);
    return out;
  }

  std::string dir_;
  std::filesystem::path old_;
  std::string old_config_;
  bool had_config_ = false;
  HeadlessBackend ui_;
  ScopedBackend scope_{&ui_};
  int response_ = -1;
};

}  // namespace qzr

#endif  // QZR_APP_MAIN_TEST_SUPPORT_H_
