// List work: expanding a destination into 20,000 folders against a bare
// recursive listing of the same tree, and importing a 100,000-line list file
// against reading it and testing each line once with IsFile.
#include <ole2.h>

#include "app/Application.h"
#include "app/FolderChooser.h"
#include "app/MainWindow.h"
#include "bench/BenchSupport.h"
#include "wingui/Dialogs.h"
#include "fs/FileSystem.h"
#include "lists/ListFile.h"

namespace {

const std::wstring kRoot = L"C:\\qmbench\\lists";

// Answers the open dialog with the list file; every box with Yes, every other dialog declined.
struct ListFileDialogs : Dialogs {
  std::wstring file;
  int Message(HWND, const std::wstring&, UINT) override { return IDYES; }
  std::optional<std::wstring> BrowseFolder(HWND, const std::wstring&) override { return std::nullopt; }
  std::vector<std::wstring> OpenFiles(HWND, const FileDialogOptions&) override { return {file}; }
  std::optional<std::wstring> SaveFile(HWND, const FileDialogOptions&) override { return std::nullopt; }
  UINT PopupMenu(HWND, HMENU, POINT) override { return 0; }
};

}  // namespace

int main(int argc, char** argv) {
  int runs = argc > 1 ? std::atoi(argv[1]) : 3;
  OleInitialize(nullptr);
  const std::wstring tree = kRoot + L"\\tree", files = kRoot + L"\\files";
  if (!fs::IsFolder(tree)) {
    std::printf("making 20,040 folders...\n");
    for (int a = 0; a < 40; ++a)
      for (int b = 0; b < 500; ++b)
        fs::MakeFolderPath(tree + L"\\a" + std::to_wstring(a) + L"\\b" + std::to_wstring(b));
  }
  const std::wstring listFile = kRoot + L"\\files.lst";
  if (!fs::IsFolder(files)) {
    std::printf("making 100,000 files...\n");
    std::vector<std::wstring> lines;
    for (int d = 0; d < 1000; ++d) {
      std::wstring folder = files + L"\\d" + std::to_wstring(d);
      fs::MakeFolderPath(folder);
      for (int f = 0; f < 100; ++f) {
        std::wstring path = folder + L"\\file" + std::to_wstring(f) + L".txt";
        bench::WriteFileOfSize(path, 0);
        lines.push_back(path);
      }
    }
    lists::WriteListFile(lines, listFile);
  }
  Application app;
  app.Create();
  MainWindow& form = app.mainWindow();
  MainControls& ui = form.Controls();
  // The destination is chosen in the folder chooser, with all its subfolders.
  ChooserControls& chooser = app.folderChooser().Controls();
  SendMessageW(chooser.allSubfolders.hwnd(), BM_CLICK, 0, 0);
  ListFileDialogs dialogs;
  dialogs.file = listFile;
  UseDialogs(&dialogs);

  std::vector<double> walk, expand, read, import;
  size_t folders = 0, imported = 0;
  for (int r = 0; r < runs; ++r) {
    walk.push_back(bench::Seconds([&] { bench::BareWalk(tree); }));
    ui.dests.Clear();
    chooser.tree.Refresh();
    chooser.tree.SelectPath(tree);
    expand.push_back(bench::Seconds([&] {
      PostMessageW(chooser.ok.hwnd(), BM_CLICK, 0, 0);
      SendMessageW(ui.addDestFolder.hwnd(), BM_CLICK, 0, 0);
      bench::PumpWhile([&] { return form.Working(); });
    }));
    folders = ui.dests.Count();
    read.push_back(bench::Seconds([&] {
      for (const auto& line : lists::ReadListFile(listFile)) fs::IsFile(line);
    }));
    ui.sources.Clear();
    import.push_back(bench::Seconds([&] {
      SendMessageW(ui.importSources.hwnd(), BM_CLICK, 0, 0);
      bench::PumpWhile([&] { return form.Working(); });
    }));
    imported = ui.sources.Count();
  }
  UseDialogs(nullptr);
  std::printf("ExpandDestination: %zu folders listed; import: %zu entries; medians of %d runs\n", folders, imported,
              runs);
  bench::Report("expand 20,000 folders", bench::Median(expand), "bare walk", bench::Median(walk), 1.05);
  bench::Report("import 100,000 lines", bench::Median(import), "read+IsFile", bench::Median(read), 0.5);
  return 0;
}
