#include "vdisk/vpath_dialog_ui.h"

#include <QApplication>
#include <gtest/gtest.h>

#include <fstream>
#include <vector>

#include "state/app_state.h"
#include "app/startup.h"
#include "controls/file_dialog_st.h"
#include "support/fakes.h"
#include "support/temp_dir.h"
#include "vdisk/virtual_path.h"

namespace qm {
namespace {

class VPathDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetAppState();
    LoadStartupSettings();
    g_VirtualDiskPath.clear();
    g_VboxPath.clear();
    previous = CFileDialogST::SetRunner([this](QFileDialog& d) {
      filters = d.nameFilters();
      return picked.empty() ? QStringList() : QStringList{QString::fromStdString(picked)};
    });
  }
  void TearDown() override {
    CFileDialogST::SetRunner(previous);
    g_VirtualDiskPath.clear();
    g_VboxPath.clear();
  }

  test::TempDir dir;
  test::ScriptedPrompt prompt;
  test::PromptScope scope{&prompt};
  CFileDialogST::Runner previous;
  std::string picked;
  QStringList filters;
};

TEST_F(VPathDialogTest, BrowseThenOk) {
  QM_REQUIRE_TOOLS("qemu-img");
  const std::string raw = dir.file("base.raw");
  ASSERT_EQ(test::Run("truncate -s 1M " + raw), 0);
  struct Case {
    const char* name;
    std::string pick;    // empty: the file dialog is cancelled
    std::string make;    // shell command making the picked file
    char kind;           // kind after Browse
    std::u16string message;  // OK's message; empty: the chooser closes
  };
  const std::vector<Case> cases = {
      {"cancelled before any choice", "", "", 0, u"Please specify Virtual Path to continue further."},
      {"vdi", dir.file("a.vdi"), "qemu-img convert -O vdi " + raw + " " + dir.file("a.vdi"), 'D', u""},
      {"qcow2", dir.file("a.qcow2"), "qemu-img convert -O qcow2 -o compat=0.10 " + raw + " " + dir.file("a.qcow2"),
       'C', u""},
      {"missing file", dir.file("none.vhd"), "", 0,
       u"This virtual file is being shared by some other Application. Please close."},
      {"unknown format", dir.file("disk.img"), "cp " + raw + " " + dir.file("disk.img"), 'N',
       u"Please select valid file."},
  };
  for (const Case& c : cases) {
    if (!c.make.empty()) ASSERT_EQ(test::Run(c.make), 0) << c.name;
    g_AppState.virtualDiskKind = 0;
    g_VirtualDiskPath.clear();
    prompt.messages.clear();
    picked = c.pick;
    VPath dlg;
    dlg.OnBrowse();
    EXPECT_EQ(dlg.PathEdit().text().toStdString(), c.pick) << c.name;
    EXPECT_EQ(g_AppState.virtualDiskKind, c.kind) << c.name;
    dlg.setResult(-1);
    dlg.OnOK();
    EXPECT_EQ(prompt.messages.empty() ? u"" : prompt.messages[0], c.message) << c.name;
    EXPECT_EQ(dlg.result(), c.message.empty() ? QDialog::Accepted : -1) << c.name;
  }
  EXPECT_TRUE(filters.join(";").contains("*.vbox")) << filters.join(";").toStdString();
}

TEST_F(VPathDialogTest, ReopeningShowsTheSettingsFileAndResolvesItsDisk) {
  const std::string vbox = dir.file("vm.vbox");
  std::ofstream(vbox) << "<HardDisk uuid=\"{x}\" location=\"disk.vdi\" format=\"VDI\"/>";
  g_VboxPath = vbox;
  g_VirtualDiskPath = dir.file("other.vdi");
  VPath dlg;
  EXPECT_EQ(dlg.PathEdit().text().toStdString(), vbox);
  EXPECT_EQ(g_VboxPath, vbox);
  EXPECT_EQ(g_VirtualDiskPath, dir.file("disk.vdi"));
  EXPECT_TRUE(dlg.grab().save(QStringLiteral(QM_TEST_OUTPUT_DIR "/vpath_dialog.png")));
}

TEST_F(VPathDialogTest, CancelAsksAndNoKeepsTheChooserOpen) {
  VPath dlg;
  prompt.answers = {IDCANCEL};
  dlg.setResult(-1);
  dlg.OnCancel();
  EXPECT_EQ(prompt.questions, std::vector<std::u16string>{u"Do you want to exit."});
  EXPECT_EQ(dlg.result(), -1);
}

}  // namespace
}  // namespace qm
