#include "app/Unit1.h"
#include "search/UnitSearch.h"

// The dialog appends what it finds itself; how it closed does not matter.
void TForm1::BtnSearchAddClick() { frmSearch->ShowModal(); }
