#include "app/Unit1.h"
void TForm1::Button1Click() {}
void TForm1::Button5Click() {}
void TForm1::Button2Click() {}
void TForm1::Button6Click() {}
void TForm1::ListBox1KeyDown(WPARAM) {}
void TForm1::DropOnSourceList(HDROP d) { DragFinish(d); }
void TForm1::Button3Click() {}
void TForm1::Button4Click() {}
void TForm1::Button7Click() {}
void TForm1::ListBox2KeyDown(WPARAM) {}
void TForm1::DropOnDestList(HDROP d) { DragFinish(d); }
void TForm1::IndexDisk(const std::wstring&) {}
void TForm1::IndexDisk2(const std::wstring&, int) {}
void TForm1::BtnSaveFileListClick() {}
void TForm1::BtnImpFileListClick() {}
void TForm1::BtnSaveDirLstClick() {}
void TForm1::BtnImpDirLstClick() {}
void TForm1::BtnSearchAddClick() {}
