// The search command: the dialog appends what it finds to the source list;
// how it closed does not matter.
#include "app/MainWindow.h"
#include "app/SearchDialog.h"

void MainWindow::OnSearchAdd() {
  search_->Run(sourceList_, [this] {
    KeepAlive();
    return !StopRequested();  // Esc ends it, keeping what it found
  });
}
