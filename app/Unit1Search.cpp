// The search command: the dialog appends what it finds to the source list;
// how it closed does not matter.
#include "app/Unit1.h"
#include "search/UnitSearch.h"

void TForm1::BtnSearchAddClick() {
  search_->Run(sources_, [this] {
    KeepAlive();
    return !StopRequested();  // Esc ends it, keeping what it found
  });
}
