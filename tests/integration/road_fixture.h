#pragma once
// What every road's fixture starts and ends with: the system tools on PATH,
// a geometry store of this process alone, the process state as at program
// start, a temporary folder, the road's prompt, and a disk presented as
// disk 0. Base is the gtest fixture class (testing::Test, or TestWithParam
// for a table of roads).
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "integration/engine_road.h"

namespace qm::test::road {

template <class Base = testing::Test>
class RoadFixture : public Base {
 protected:
  void SetUp() override {
    // mkfs.fat, mkntfs and the like live in the sbin folders.
    const char* path = std::getenv("PATH");
    ::setenv("PATH", (std::string(path ? path : "") + ":/usr/sbin:/sbin").c_str(), 1);
    // The geometry store of this process alone: tests run side by side.
    static TempDir state;
    ::setenv("QUILLMOREN_STATE_DIR", state.path().c_str(), 1);
    FreshProcessState();
  }
  void TearDown() override {
    present_.reset();
    FreshProcessState();
  }

  // disk alone presented as disk 0, then the device tree's fill (see
  // FillDeviceTree for afterRebuild).
  std::vector<TreeDisk> Present(const std::string& disk, const std::function<void()>& afterRebuild = {}) {
    present_.reset();  // its destructor puts the old disk list back
    present_ = std::make_unique<PresentImages>(std::vector<std::string>{disk});
    return FillDeviceTree(afterRebuild);
  }

  TempDir dir_;
  RoadPrompt prompt_;
  PromptScope scope_{&prompt_};
  std::unique_ptr<PresentImages> present_;
};

}  // namespace qm::test::road
