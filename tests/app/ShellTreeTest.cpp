// The folder chooser's shell tree gives back its nodes.
#include "tests/support/AppFixture.h"

namespace {

using FolderTree = AppTest;

TEST_F(FolderTree, GivesBackEveryNodeWhenRebuiltAndWhenItsWindowGoes) {
  TempDir dir;
  MakeDir(dir / L"A\\B");
  Start();
  ShellTree& tree = app_->folderChooser().Controls().tree;
  tree.Refresh();
  ASSERT_TRUE(tree.SelectPath(dir / L"A\\B"));
  const size_t shown = ShellTree::NodesAlive();
  EXPECT_GT(shown, 3u);
  tree.Refresh();  // the same nodes again, the old ones gone
  EXPECT_EQ(ShellTree::NodesAlive(), shown);
  app_.reset();
  EXPECT_EQ(ShellTree::NodesAlive(), 0u);
}

}  // namespace
