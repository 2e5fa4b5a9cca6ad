// The preview's extraction of NTFS files whose clusters do not hold their
// bytes as they are (compressed units, a preallocated file's old clusters):
// the copy it makes for showing or opening is what icat gives.
#include <gtest/gtest.h>

#include <QSignalBlocker>
#include <QTreeWidget>

#include <fstream>
#include <map>
#include <sstream>

#include "state/app_state.h"
#include "controls/colored_list.h"
#include "engines/catalog.h"
#include "engines/ntfs_quick_scan.h"
#include "engines/ntfs_volume_util.h"
#include "results/preview_ui.h"
#include "results/results_page_ui.h"
#include "support/fakes.h"
#include "support/fixtures.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(NtfsPreview, OpenExtractsCompressedAndPreallocatedFilesAsIcatGivesThem) {
  ASSERT_TRUE(test::HaveTools({"icat", "dd", "gzip"})) << "sleuthkit, dd and gzip are needed";
  ResetAppState();
  ClearCatalog();
  test::TempDir dir;
  auto set = test::UnpackNtfs(dir, "ntfsdata");
  ASSERT_TRUE(set.ok()) << set.skipReason;
  const std::string volume = dir.file("volume.img");
  ASSERT_EQ(test::Run("dd if=" + set.path("ntfsdata.img") + " of=" + volume + " bs=512 skip=2048 status=none"), 0);
  test::PresentImages present({volume});
  const test::NtfsVolume v = test::OpenNtfsImage(volume);
  ASSERT_TRUE(v.ok);
  g_PartitionGeometry = g_AppState.scanGeometry;
  g_SelectedFileSystem = u"NTFS";
  g_AppState.scanFileSystem = u"NTFS";
  test::RecordingHost host;
  g_AppState.scanPage = &host;
  NtfsQuickScanThread();
  g_AppState.scanPage = nullptr;
  g_AppState.formattedMode = 0;

  std::map<std::string, uint32_t> records;
  for (const test::FlsEntry& e : test::ParseFls(test::ReadText(test::NtfsFixtureDir() + "/ntfsdata.fls.txt")))
    records[e.path] = static_cast<uint32_t>(std::stoul(e.inode));

  // Opened from the list, through an opener that does nothing: the copy
  // stays in the preview's folder while the page lives.
  test::ScriptedPrompt prompt;
  test::PromptScope scope(&prompt);
  const std::string bin = dir.file("bin");
  ASSERT_EQ(test::Run("mkdir -p " + bin + " && printf '#!/bin/sh\\nexit 0\\n' > " + bin +
                      "/xdg-open && chmod 755 " + bin + "/xdg-open"),
            0);
  const std::string oldPath = std::getenv("PATH") ? std::getenv("PATH") : "";
  setenv("PATH", (bin + ":" + oldPath).c_str(), 1);
  struct Case {
    const char* folder;
    const char* name;
  };
  for (const Case c : {Case{"", "prealloc.bin"}, Case{"comp", "mixed.bin"}, Case{"comp", "holes.bin"}}) {
    SCOPED_TRACE(c.name);
    const std::string path = *c.folder ? std::string(c.folder) + "/" + c.name : c.name;
    ViewDataInControls page;
    page.StartFillFileList(*c.folder ? records.at(c.folder) : 5u);
    auto found = page.List().findItems(QString::fromLatin1(c.name), Qt::MatchExactly, kColName);
    ASSERT_FALSE(found.isEmpty());
    {
      QSignalBlocker block(page.List());  // select without previewing
      page.List().setCurrentItem(found.front());
    }
    page.OpenListRow(false);
    page.WaitForPreview();
    const std::string want = test::Capture("icat " + test::ShellQuote(volume) + " " + std::to_string(records.at(path)));
    ASSERT_FALSE(want.empty());
    EXPECT_TRUE(ReadAll(PreviewTempFolder() + c.name) == want);
  }
  setenv("PATH", oldPath.c_str(), 1);
  ClearCatalog();
  ClearMftRuns();
}

}  // namespace
}  // namespace qm
