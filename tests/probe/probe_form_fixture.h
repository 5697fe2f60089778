// The window on a throw-away program folder whose event log it writes, with
// the job's default tool settings, and fake tools under any tool's name.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "probe_test_support.h"
#include "support/installation.h"
#include "ui/frm_main.h"

namespace quorvex::testing {

class ProbeFormTest : public ::testing::Test {
 protected:
  // The derived fixture calls form_.Form_Load() once its session is set.
  explicit ProbeFormTest(bool with_database = true) : installation_(with_database) {
    setenv("QUORVEX_EVENT_LOG", installation_.EventLogPath().c_str(), 1);
    run_.ProgramFolder = installation_.Folder().string();
    run_.Settings = {"", "", "", "", 1, "psping.exe", "-n 4 -i 0 -w 0", "tcping.exe", "-i 0", "80"};
  }
  ~ProbeFormTest() override { unsetenv("QUORVEX_EVENT_LOG"); }

  std::filesystem::path Folder() const { return installation_.Folder(); }

  // A script that appends its arguments, joined by "|", to <name>.args and
  // prints reply.
  void InstallFakeTool(const std::string& name, const std::string& reply) {
    namespace fs = std::filesystem;
    const fs::path tool = Folder() / name;
    fs::create_directories(tool.parent_path());
    std::ofstream(tool)
        << "#!/bin/sh\nIFS='|'; printf '%s\\n' \"$*\" >>\"$0.args\"; cat \"$0.reply\"\n";
    fs::permissions(tool, fs::perms::owner_all);
    std::ofstream(tool.string() + ".reply", std::ios::binary) << reply;
    fs::remove(tool.string() + ".args");
  }

  std::vector<std::string> CallsOf(const std::string& name) const {
    std::ifstream in(Folder() / (name + ".args"));
    std::vector<std::string> calls;
    for (std::string line; std::getline(in, line);) calls.push_back(line);
    return calls;
  }

  std::vector<std::string> Messages() const {
    std::vector<std::string> messages;
    for (const auto& event : installation_.Events()) messages.push_back(event.message);
    return messages;
  }

  Installation installation_;
  RunState run_;
  RecordingBoxes boxes_;
  frmMain form_{run_, boxes_};
};

}  // namespace quorvex::testing
